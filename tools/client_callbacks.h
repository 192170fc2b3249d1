#pragma once
// The client's own callback functions. While a request waits, the server may
// call back into the client; a request names the function by its address in
// this process. Users name these functions instead, and qarn puts in their
// addresses, so that the server is never handed an address someone typed.

#include <string>

namespace qarn::tool {

// One usage line per function, for the help of invoke.
std::string CallbackList();

// For a request "callback KIND FUNCTION ARGS..." (split into words as
// the server splits it), puts that function's address in place of FUNCTION.
// False with the reason when KIND or FUNCTION is not one of ours; any other
// request is left as it is.
bool ResolveCallbackRequest(std::string* request, std::string* error);

}  // namespace qarn::tool

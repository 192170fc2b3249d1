#pragma once
// The client's own callback functions. While a request waits, the server may
// call back into the client; a request names the function by its address in
// this process. Users name these functions instead, and qarn puts in their
// addresses, so that the server is never handed an address someone typed.

#include <string>
#include <vector>

namespace qarn::tool {

// One usage line per function, for the help of invoke.
std::string CallbackList();

// Replaces FUNCTION in "callback KIND FUNCTION ARGS..." with that function's
// address. False with the reason when KIND or FUNCTION is not one of ours.
bool ResolveCallbackRequest(std::vector<std::string>* words, std::string* error);

}  // namespace qarn::tool

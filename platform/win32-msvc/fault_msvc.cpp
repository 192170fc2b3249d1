// Processor faults in the Microsoft ABI: the C++ runtime itself calls the
// thread's structured-exception translator from its frame handler, so the
// translator is simply the runtime's. Code must be compiled with
// asynchronous exceptions for the throw to reach handlers in the faulting
// function.

#include <eh.h>

#include "platform/platform.h"

namespace qarn::os {

Translator SetThreadTranslator(Translator translator) { return _set_se_translator(translator); }

}  // namespace qarn::os

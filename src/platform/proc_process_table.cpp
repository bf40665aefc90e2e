#include "platform/proc_process_table.h"

namespace kestrel {

ProcessCheck ProcProcessTable::check(const std::string&) { return ProcessCheck::Unknown; }

}  // namespace kestrel

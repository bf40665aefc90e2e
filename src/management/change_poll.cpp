#include "management/change_poll.h"

namespace kestrel {

void tmrCheckForChanges(Station&) {}

}  // namespace kestrel

#include "management/config_download.h"

namespace kestrel {

void tmrManagementDownload(Station&) {}

}  // namespace kestrel

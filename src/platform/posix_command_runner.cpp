#include "platform/posix_command_runner.h"

namespace kestrel {

PosixCommandRunner::PosixCommandRunner(std::filesystem::path workdir) : m_workdir(std::move(workdir)) {}

bool PosixCommandRunner::run(const std::string&, WindowStyle) { return false; }

}  // namespace kestrel

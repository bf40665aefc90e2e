#pragma once

#include "platform/process_table.h"

namespace kestrel {

/// Looks processes up in /proc: a process has the name N when its comm or the
/// base name of its argv[0] equals N with or without ".exe", it belongs to
/// this user and it is not a zombie.
class ProcProcessTable final : public ProcessTable {
public:
    ProcessCheck check(const std::string& executableName) override;
};

}  // namespace kestrel

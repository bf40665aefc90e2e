#include "check/station_file.h"

#include <system_error>

#include "platform/file_io.h"

namespace kestrel {

std::optional<std::string> readFileToCheck(const std::filesystem::path& dir, const FileRole& role,
                                           Findings& findings) {
    namespace fs = std::filesystem;
    const fs::path file = dir / role.name;
    const auto problem = [&](std::string what) {
        findings.add(role.name, 0, what + ": " + std::string(role.withoutIt));
        return std::nullopt;
    };
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) {
        if (role.mayBeMissing) return std::nullopt;
        return problem("missing");
    }
    if (error) return problem("cannot be read (" + error.message() + ")");
    if (status.type() == fs::file_type::directory) return problem("is a directory");
    if (status.type() != fs::file_type::regular) return problem("is not a regular file");
    const std::uintmax_t size = fs::file_size(file, error);
    if (!error && size > kLargestFileChecked) {
        findings.add(role.name, 0,
                     "is " + std::to_string(size) +
                         " bytes, far more than a station file: not "
                         "checked");
        return std::nullopt;
    }
    std::string bytes;
    if (!readWholeFile(file, bytes)) return problem("cannot be read");
    return bytes;
}

}  // namespace kestrel

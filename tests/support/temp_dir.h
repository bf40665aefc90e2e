#pragma once

#include <filesystem>
#include <string>

namespace kestrel::test {

/// A fresh directory "station" alone in a fresh directory under the system's
/// temporary directory (so no other test's station lies beside it), removed
/// with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    void write(const std::string& name, const std::string& bytes) const;
    /// The file's bytes, or "<missing>" when it does not exist.
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

private:
    std::filesystem::path m_path;
};

}  // namespace kestrel::test

#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kestrel {

bool readWholeFile(const std::filesystem::path& file, std::string& bytes) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return false;
    bytes = std::move(out).str();
    return true;
}

std::optional<FileStamp> fileStampOf(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    const auto ns = [](const timespec& t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                     static_cast<std::uint64_t>(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

const std::string* CachedFile::read(const std::filesystem::path& file) {
    // Stamped before the read: a change during it shows at the next look.
    const auto stamp = fileStampOf(file);
    if (stamp && m_stamp == stamp && m_file == file) return &m_bytes;
    m_stamp.reset();
    m_file = file;
    if (!stamp || !readWholeFile(file, m_bytes)) return nullptr;
    m_stamp = stamp;
    return &m_bytes;
}

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// Writes every byte; false with errno set when the disk refuses some.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes a rename in `directory` survive a power cut. The new file is in
// place already, so a directory that cannot be synced fails nothing.
void syncDirectory(const std::filesystem::path& directory) {
    const int fd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The process's file mode creation mask, read without changing it.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Umask:"))
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

}  // namespace

std::error_code replaceFileDurably(const std::filesystem::path& file, std::string_view bytes) {
    // A name of its own, so that two writers of one file never mix their bytes.
    std::string temporary = file.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return lastError();
    std::error_code error;
    // mkostemp makes it 0600; the file gets the mode a plain create would give it.
    if (::fchmod(fd, 0644 & ~currentUmask()) != 0) error = lastError();
    // A full disk may show only at fsync or close, once the data leaves the cache.
    if (!error && (!writeAll(fd, bytes) || ::fsync(fd) != 0)) error = lastError();
    if (::close(fd) != 0 && !error) error = lastError();
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0) error = lastError();
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    syncDirectory(file.parent_path());
    return {};
}

bool appendToFile(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

}  // namespace kestrel

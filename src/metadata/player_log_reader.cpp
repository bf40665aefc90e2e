#include "metadata/player_log_reader.h"

#include <algorithm>
#include <fstream>

#include "platform/file_io.h"

namespace kestrel {
namespace {

constexpr std::size_t kWindow = 4096;
constexpr std::size_t kChunk = 64 * 1024;

bool readAt(std::istream& in, std::uint64_t offset, std::size_t count, std::string& bytes) {
    bytes.resize(count);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(in.gcount()) == count;
}

}  // namespace

PlayerLogReader::PlayerLogReader(std::uint64_t maxBytesPerRead)
    : m_maxBytesPerRead(std::max<std::uint64_t>(maxBytesPerRead, 1)) {}

void PlayerLogReader::forget() {
    m_stamp.reset();
    m_position = 0;
    m_head.clear();
    m_tail.clear();
    m_atEnd = false;
    m_parser.reset();
}

PlayerLogFields PlayerLogReader::fields() const {
    return m_atEnd ? m_parser.fields() : m_parser.completeLineFields();
}

PlayerLogReader::Outcome PlayerLogReader::update(const std::filesystem::path& file) {
    try {
        return readAppended(file);
    } catch (...) {
        forget();  // half-parsed bytes would be parsed twice
        return Outcome::Unreadable;
    }
}

PlayerLogReader::Outcome PlayerLogReader::readAppended(const std::filesystem::path& file) {
    if (file != m_file) {
        forget();
        m_file = file;
    }
    const auto stamp = fileStampOf(file);
    // Nothing was written since a read reached the end: one look, no read.
    if (stamp && stamp == m_stamp && m_atEnd) return Outcome::Read;
    m_stamp.reset();
    if (!stamp) {
        forget();
        return Outcome::Missing;
    }
    std::ifstream in(file, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff end = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (end < 0) {
        forget();
        return Outcome::Unreadable;
    }
    const auto size = static_cast<std::uint64_t>(end);
    if (!stillTheSameLog(in, size)) forget();
    if (!readFrom(in, size)) {
        forget();
        return Outcome::Unreadable;
    }
    // Stamped before the read: whatever came during it shows at the next look.
    if (m_atEnd) m_stamp = stamp;
    return Outcome::Read;
}

bool PlayerLogReader::stillTheSameLog(std::istream& in, std::uint64_t size) {
    if (m_position == 0) return true;
    if (size < m_position) return false;
    std::string bytes;
    if (!readAt(in, 0, m_head.size(), bytes) || bytes != m_head) return false;
    return readAt(in, m_position - m_tail.size(), m_tail.size(), bytes) && bytes == m_tail;
}

bool PlayerLogReader::readFrom(std::istream& in, std::uint64_t size) {
    const std::uint64_t end = std::min(size, m_position + m_maxBytesPerRead);
    if (!m_buffer) m_buffer = std::make_unique<char[]>(kChunk);
    in.clear();
    in.seekg(static_cast<std::streamoff>(m_position));
    while (m_position < end) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - m_position));
        in.read(m_buffer.get(), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) return false;  // a read error, or the log shrank while being read
        const std::string_view bytes(m_buffer.get(), got);
        m_parser.feed(bytes);
        if (m_head.size() < kWindow) m_head.append(bytes.substr(0, kWindow - m_head.size()));
        if (got >= kWindow) {
            m_tail.assign(bytes.substr(got - kWindow));
        } else {
            m_tail.append(bytes);
            if (m_tail.size() > kWindow) m_tail.erase(0, m_tail.size() - kWindow);
        }
        m_position += got;
    }
    m_atEnd = m_position == size;
    return true;
}

}  // namespace kestrel

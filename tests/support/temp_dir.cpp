#include "support/temp_dir.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrel::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = std::filesystem::path(pattern) / "station";
    std::filesystem::create_directory(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path.parent_path(), ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(m_path / name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(m_path / name, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool TempDir::exists(const std::string& name) const {
    return std::filesystem::exists(m_path / name);
}

}  // namespace kestrel::test

#include "support/fake_players.h"

#include <fstream>

#include "platform/command_line.h"
#include "support/fake_clock.h"

namespace kestrel::test {

bool FakePlayers::run(const std::string& commandLine, WindowStyle style) {
    m_issued.push_back({commandLine, style, clock ? clock->ms() : 0});
    const auto command = parseStationCommand(commandLine);
    if (!command) return false;
    if (const auto* start = std::get_if<StartPlayerCommand>(&*command)) {
        m_lastUrl[start->executable] = start->url;
        std::ofstream log(m_workdir / start->logFile, std::ios::binary | std::ios::trunc);
        const auto content = logForUrl.find(start->url);
        if (content != logForUrl.end()) log << content->second;
        if (!unplayableUrls.count(start->url)) m_running[start->executable] = start->url;
    } else if (const auto* kill = std::get_if<KillByNameCommand>(&*command)) {
        m_running.erase(kill->executable);
    } else if (const auto* del = std::get_if<DeleteFileCommand>(&*command)) {
        std::error_code ignored;
        std::filesystem::remove(m_workdir / del->file, ignored);
    }
    return true;
}

ProcessCheck FakePlayers::check(const std::string& executableName) {
    if (checksFail) return ProcessCheck::Unknown;
    return m_running.count(executableName) ? ProcessCheck::Running : ProcessCheck::NotRunning;
}

std::vector<std::string> FakePlayers::commands() const {
    std::vector<std::string> texts;
    for (const auto& issued : m_issued)
        texts.push_back(issued.command);
    return texts;
}

bool FakePlayers::isRunning(int slot) const {
    return m_running.count(playerExecutable(slot)) > 0;
}

std::string FakePlayers::urlOf(int slot) const {
    const auto it = m_lastUrl.find(playerExecutable(slot));
    return it == m_lastUrl.end() ? std::string() : it->second;
}

void FakePlayers::die(int slot) {
    m_running.erase(playerExecutable(slot));
}

}  // namespace kestrel::test

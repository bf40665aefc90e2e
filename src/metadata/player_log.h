#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

/// The stream details a player log announces. A field stays unset while the
/// log has no line for it; otherwise it holds the value of the last such line.
struct PlayerLogFields {
    std::optional<std::string> name;
    std::optional<std::string> genre;
    std::optional<std::string> website;
    std::optional<std::string> publicFlag;
    std::optional<std::string> bitrate;
    std::optional<std::string> codec;
    std::optional<std::string> title;
    /// Set (to the rest of the line, normally empty) once the log shows
    /// "Starting playback...": the player's audio output has started.
    std::optional<std::string> playbackStarted;
    /// The decoder's output as "AUDIO: 44100 Hz, 2 ch, s16le, ..." tells it.
    std::optional<std::string> audioFormat;
    /// "Cache empty" lines so far: each is an underrun of the player's cache.
    std::uint32_t cacheEmptyLines = 0;
    /// Lines saying the sound device could not be opened.
    std::uint32_t outputOpenFailures = 0;
    /// Lines saying the open sound device is gone or stuck.
    std::uint32_t outputStuckLines = 0;

    friend bool operator==(const PlayerLogFields&, const PlayerLogFields&) = default;
};

/// The stream title carried by the rest of an ICY line (the text after
/// "ICY Info: StreamTitle='"): up to the first "';", or, when the rest has
/// none, the rest less its last two characters (whole when shorter than two).
std::string_view streamTitleOf(std::string_view rest);

/// The sample rate an "AUDIO: " line's text names; 0 when none.
int sampleRateOf(std::string_view audioFormat);

/// Tests one log line against the nine prefixes (exact, case-sensitive) and
/// sets the matching field, or counts a "Cache empty" line. Returns whether
/// the line matched.
bool parsePlayerLogLine(std::string_view line, PlayerLogFields& fields);

/// Lines longer than this are read as if they ended here; no stream detail is
/// that long, and it bounds the memory a hostile log can claim.
inline constexpr std::size_t kMaxPlayerLogLine = 64 * 1024;

/// Splits a log fed in pieces into lines (ending at CR LF, LF or a lone CR)
/// and parses them. Whatever the pieces, the fields equal those of one pass
/// over the whole text, the unterminated last line counted as a line.
class PlayerLogParser {
public:
    /// Parses the lines `bytes` completes; an unterminated end stays pending.
    void feed(std::string_view bytes);

    /// The fields of every line fed so far, the pending last line included.
    PlayerLogFields fields() const;

    /// The fields of the complete lines only.
    const PlayerLogFields& completeLineFields() const { return m_fields; }

    /// Forgets everything fed so far.
    void reset() { *this = PlayerLogParser(); }

private:
    void appendToLine(const char* begin, const char* end);
    void endLine();

    PlayerLogFields m_fields;  // of the complete lines
    std::string m_line;        // the pending line, while it may still match a prefix
    bool m_lineCannotMatch = false;
    bool m_afterCr = false;  // an LF right after a CR ends no further line
};

}  // namespace kestrel

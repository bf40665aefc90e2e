// A small Shoutcast-style stream server on 127.0.0.1 for tests and the demo
// station: serves an MP3 in a loop with icy-* headers and, to clients that
// ask for it, ICY metadata blocks whose title changes every few seconds.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stopSignal = 0;
std::atomic<int> g_activeClients{0};
// Raised by SIGUSR1 and SIGUSR2; a connection compares them with their
// values at its start.
std::atomic<unsigned> g_stallGeneration{0};
std::atomic<unsigned> g_closeGeneration{0};
// Toggled by SIGHUP: "/testonline/" answers an empty body, as a failed health test.
std::atomic<bool> g_testFails{false};
static_assert(std::atomic<unsigned>::is_always_lock_free, "raised in signal handlers");

void onStopSignal(int) {
    g_stopSignal = 1;
}

void onStallSignal(int) {
    ++g_stallGeneration;
}

void onCloseSignal(int) {
    ++g_closeGeneration;
}

void onTestToggleSignal(int) {
    g_testFails = !g_testFails;
}

bool stopping() {
    return g_stopSignal != 0;
}

struct Options {
    int port = 0;
    std::string name = "Kestrelfield Test Stream";
    std::string genre = "Test";
    std::string url = "http://127.0.0.1/";
    std::string pub = "1";
    int bitrate = 128;
    int metaint = 8192;
    std::vector<std::string> titles = {"Test Artist - First Song", "Test Artist - Second Song"};
    double every = 10;
    std::string mp3File;
    bool httpStatus = false;
    bool paced = false;         ///< no first burst: the bit rate from the first byte
    bool live = false;          ///< every client joins where the server's clock has got to
    double firstByteAfter = 0;  ///< seconds a stream request waits for its answer
};

const char* kUsage =
    "usage: icy_test_stream [--port N] [--name TEXT] [--genre TEXT] [--url TEXT] [--pub TEXT]\n"
    "                       [--br KBITS] [--metaint BYTES] [--titles \"A - B|C - D\"]\n"
    "                       [--every SECONDS] [--mp3 FILE] [--http] [--pace] [--live]\n"
    "                       [--first-byte-after SECONDS]\n"
    "Serves an MP3 (built-in silence without --mp3) on 127.0.0.1 until SIGTERM or SIGINT.\n"
    "The first line on stdout is the port number (--port 0 picks a free one).\n"
    "\"/testonline/\" answers a short text body; every other path is the stream.\n"
    "--http answers \"HTTP/1.0 200 OK\" instead of \"ICY 200 OK\".\n"
    "The stream starts with a 64 KiB burst, then follows its bit rate; --pace sends at\n"
    "the bit rate from the first byte, and --first-byte-after holds back the whole\n"
    "answer (headers too) that long, like a far or overloaded server. --live starts\n"
    "every client where the server's clock has got to in the MP3 loop, as a live\n"
    "broadcast does; without it every client hears the MP3 from its beginning.\n"
    "SIGUSR1 stalls the connections streaming at that moment (open, sending nothing),\n"
    "SIGUSR2 closes them; later connections stream normally.\n"
    "SIGHUP toggles \"/testonline/\" between its text and an empty body (a failed test);\n"
    "each test request prints \"test MS up|down\" (MS: CLOCK_MONOTONIC milliseconds).\n";

std::vector<std::string> splitTitles(const std::string& text) {
    std::vector<std::string> titles;
    std::string current;
    for (char c : text) {
        if (c == '|') {
            titles.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    titles.push_back(current);
    return titles;
}

bool parseNumber(const std::string& text, double low, double high, double& value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size() && value >= low && value <= high;
    } catch (...) {
        return false;
    }
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--http") {
            options.httpStatus = true;
            continue;
        }
        if (option == "--live") {
            options.live = true;
            continue;
        }
        if (option == "--pace") {
            options.paced = true;
            continue;
        }
        if (option == "--help" || i + 1 >= argc) return false;
        const std::string value = argv[++i];
        double number = 0;
        if (option == "--port") {
            if (!parseNumber(value, 0, 65535, number)) return false;
            options.port = static_cast<int>(number);
        } else if (option == "--br") {
            if (!parseNumber(value, 8, 640, number)) return false;
            options.bitrate = static_cast<int>(number);
        } else if (option == "--metaint") {
            if (!parseNumber(value, 1, 1 << 20, number)) return false;
            options.metaint = static_cast<int>(number);
        } else if (option == "--every") {
            if (!parseNumber(value, 0.1, 1e6, number)) return false;
            options.every = number;
        } else if (option == "--first-byte-after") {
            if (!parseNumber(value, 0, 3600, number)) return false;
            options.firstByteAfter = number;
        } else if (option == "--name") {
            options.name = value;
        } else if (option == "--genre") {
            options.genre = value;
        } else if (option == "--url") {
            options.url = value;
        } else if (option == "--pub") {
            options.pub = value;
        } else if (option == "--titles") {
            options.titles = splitTitles(value);
        } else if (option == "--mp3") {
            options.mp3File = value;
        } else {
            return false;
        }
    }
    return true;
}

// Whole MPEG-1 Layer III frames of silence at 128 kbit/s, 44.1 kHz, stereo:
// a header followed by zeroed side information and main data decodes as silence.
std::string silentFrames() {
    const unsigned char header[] = {0xFF, 0xFB, 0x90, 0x00};
    std::string frame(417, '\0');
    std::copy(std::begin(header), std::end(header), frame.begin());
    std::string audio;
    for (int i = 0; i < 200; ++i)
        audio += frame;
    return audio;
}

// The file's audio without ID3 tags, which must not recur in a looped stream.
bool loadMp3(const std::string& file, std::string& audio) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    audio.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (audio.size() >= 10 && audio.compare(0, 3, "ID3") == 0) {
        const auto byte = [&](int i) { return static_cast<std::size_t>(audio[i] & 0x7F); };
        std::size_t tagSize = 10 + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9));
        if (audio[5] & 0x10) tagSize += 10;  // footer
        audio.erase(0, std::min(tagSize, audio.size()));
    }
    if (audio.size() >= 128 && audio.compare(audio.size() - 128, 3, "TAG") == 0) {
        audio.resize(audio.size() - 128);
    }
    return !audio.empty();
}

// Sends all of `bytes`, waiting at most a short while each time so that a
// stop signal is seen. False when the client went away or the server stops.
bool sendAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        if (stopping()) return false;
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool sendAll(int fd, const std::string& bytes) {
    return sendAll(fd, bytes.data(), bytes.size());
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

struct Request {
    std::string method;
    std::string path;
    bool wantsMetadata = false;
};

// Reads the request head (at most 8 KiB, within 5 s).
bool readRequest(int fd, Request& request) {
    std::string head;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.find("\n\n") == std::string::npos) {
        if (stopping() || head.size() > 8192 || Clock::now() > deadline) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[1024];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    std::istringstream lines(head);
    std::string line;
    std::getline(lines, line);
    std::istringstream requestLine(line);
    requestLine >> request.method >> request.path;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (lowerCase(trimmed(line.substr(0, colon))) == "icy-metadata") {
            request.wantsMetadata = trimmed(line.substr(colon + 1)) == "1";
        }
    }
    return !request.method.empty();
}

// One line per health test on stdout, for benchmarks that time what follows it.
void noteTest(bool up) {
    static std::mutex lock;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    const std::lock_guard<std::mutex> hold(lock);
    std::cout << "test " << ms << (up ? " up" : " down") << std::endl;
}

class Stream {
public:
    Stream(const Options& options, std::string audio, Clock::time_point started)
        : m_options(options), m_audio(std::move(audio)), m_started(started) {}

    void serve(int fd) const {
        const Faults faults{g_stallGeneration, g_closeGeneration};
        Request request;
        if (!readRequest(fd, request)) return;
        if (request.method != "GET") {
            sendAll(fd, "HTTP/1.0 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        if (request.path.rfind("/testonline/", 0) == 0) {
            const bool fails = g_testFails;
            noteTest(!fails);
            sendAll(fd, fails ? "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"
                              : "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                                "7\r\n\r\nONLINE\n");
            return;
        }
        if (!holdBack(m_options.firstByteAfter)) return;
        std::string head = m_options.httpStatus ? "HTTP/1.0 200 OK\r\n" : "ICY 200 OK\r\n";
        head += "icy-name: " + m_options.name + "\r\n";
        head += "icy-genre: " + m_options.genre + "\r\n";
        head += "icy-url: " + m_options.url + "\r\n";
        head += "icy-pub: " + m_options.pub + "\r\n";
        head += "icy-br: " + std::to_string(m_options.bitrate) + "\r\n";
        if (request.wantsMetadata)
            head += "icy-metaint: " + std::to_string(m_options.metaint) + "\r\n";
        head += "content-type: audio/mpeg\r\n\r\n";
        if (!sendAll(fd, head)) return;
        streamAudio(fd, request.wantsMetadata, faults);
    }

private:
    /// The signal generations at a connection's start.
    struct Faults {
        unsigned stall;
        unsigned close;
        bool closed() const { return g_closeGeneration != close; }
        bool stalled() const { return g_stallGeneration != stall; }
    };

    std::string currentTitle() const {
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_started).count();
        const auto index = static_cast<std::size_t>(elapsed / m_options.every);
        return m_options.titles[index % m_options.titles.size()];
    }

    // A metadata block: length byte in 16-byte units, then the padded text.
    static std::string metadataBlock(const std::string& title) {
        std::string text = "StreamTitle='" + title + "';StreamUrl='';";
        text.resize(std::min<std::size_t>(text.size(), 255 * 16));
        const std::size_t units = (text.size() + 15) / 16;
        text.resize(units * 16, '\0');
        return std::string(1, static_cast<char>(units)) + text;
    }

    // Waits `seconds` before the answer; false when the server stops meanwhile.
    static bool holdBack(double seconds) {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < until) {
            if (stopping()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Keeps a stalled connection open, sending nothing, until the client
    // leaves, a close signal comes or the server stops.
    static void holdStalled(int fd, const Faults& faults) {
        char buffer[1024];
        while (!stopping() && !faults.closed()) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0) return;
        }
    }

    // Sends the audio in a loop at the stream's bitrate, unless paced after a
    // first burst that lets the player's cache fill quickly.
    void streamAudio(int fd, bool withMetadata, const Faults& faults) const {
        const double bytesPerSecond = m_options.bitrate * 1000.0 / 8.0;
        const double burst = m_options.paced ? 0 : 64 * 1024;
        const auto start = Clock::now();
        std::size_t audioOffset = 0;
        if (m_options.live) {
            const double onAir = std::chrono::duration<double>(start - m_started).count();
            audioOffset = static_cast<std::size_t>(onAir * bytesPerSecond) % m_audio.size();
        }
        std::size_t untilMetadata = static_cast<std::size_t>(m_options.metaint);
        double sent = 0;
        std::string lastTitle;
        bool firstBlock = true;
        while (!stopping() && !faults.closed()) {
            if (faults.stalled()) return holdStalled(fd, faults);
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const double allowed = burst + bytesPerSecond * elapsed - sent;
            if (allowed < 1024) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(allowed), 16384);
            count = std::min(count, m_audio.size() - audioOffset);
            if (withMetadata) count = std::min(count, untilMetadata);
            if (!sendAll(fd, m_audio.data() + audioOffset, count)) return;
            sent += static_cast<double>(count);
            audioOffset = (audioOffset + count) % m_audio.size();
            if (!withMetadata) continue;
            untilMetadata -= count;
            if (untilMetadata > 0) continue;
            untilMetadata = static_cast<std::size_t>(m_options.metaint);
            const std::string title = currentTitle();
            const bool changed = firstBlock || title != lastTitle;
            firstBlock = false;
            lastTitle = title;
            if (!sendAll(fd, changed ? metadataBlock(title) : std::string(1, '\0'))) return;
        }
    }

    const Options& m_options;
    std::string m_audio;
    Clock::time_point m_started;
};

void serveClient(const Stream& stream, int fd) {
    stream.serve(fd);
    shutdown(fd, SHUT_RDWR);
    close(fd);
    --g_activeClients;
}

int listenOn(int port, int& boundPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    boundPort = ntohs(address.sin_port);
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    std::string audio;
    if (options.mp3File.empty()) {
        audio = silentFrames();
    } else if (!loadMp3(options.mp3File, audio)) {
        std::cerr << "icy_test_stream: cannot read " << options.mp3File << "\n";
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = onStallSignal;
    sigaction(SIGUSR1, &action, nullptr);
    action.sa_handler = onCloseSignal;
    sigaction(SIGUSR2, &action, nullptr);
    action.sa_handler = onTestToggleSignal;
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int port = 0;
    const int listener = listenOn(options.port, port);
    if (listener < 0) {
        std::cerr << "icy_test_stream: cannot listen on 127.0.0.1:" << options.port << ": "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    std::cout << port << std::endl;

    const Stream stream(options, std::move(audio), Clock::now());
    while (!stopping()) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        ++g_activeClients;
        std::thread(serveClient, std::cref(stream), client).detach();
    }
    close(listener);
    // Client threads see the stop within a tenth of a second.
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (g_activeClients > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

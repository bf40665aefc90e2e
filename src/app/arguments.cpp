#include "app/arguments.h"

#include <filesystem>
#include <iostream>
#include <string_view>

#include "check/station_check.h"

namespace kestrel {
namespace {

constexpr int kUsageError = 2;

constexpr const char* kUsage = "usage: kestrelfield [--check [DIR] | --version | --help]\n";

constexpr const char* kHelp =
    "Without arguments, runs the station in the working directory, which holds\n"
    "kestrelfield.ini, sourcelist.ini and sourceevents.ini.\n"
    "\n"
    "  --check [DIR]  check the three files of DIR (default: the working directory)\n"
    "                 with the station's own readers and print every problem as\n"
    "                 FILE:LINE: message; exit status 0 when clean, 1 when problems\n"
    "                 were found, 2 when DIR cannot be read\n"
    "  --version      print the version\n"
    "  --help         print this help\n"
    "\n"
    "See kestrelfield(1).\n";

}  // namespace

std::optional<int> handleArguments(int argc, char** argv) {
    if (argc <= 1) return std::nullopt;
    const std::string_view option = argv[1];
    if (option == "--check" && argc <= 3) {
        return checkStation(argc == 3 ? argv[2] : ".", std::cout, std::cerr);
    }
    if (option == "--version" && argc == 2) {
        std::cout << "kestrelfield " KESTREL_VERSION "\n";
        return 0;
    }
    if (option == "--help" && argc == 2) {
        std::cout << kUsage << '\n' << kHelp;
        return 0;
    }
    std::cerr << kUsage;
    return kUsageError;
}

}  // namespace kestrel

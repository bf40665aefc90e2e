#include "platform/player_control.h"

namespace kestrel {

PlayerControl& noPlayerControl() {
    struct NoControl final : PlayerControl {
        std::filesystem::path renew(int) override { return {}; }
        bool send(int, std::string_view) override { return false; }
    };
    static NoControl control;
    return control;
}

}  // namespace kestrel

#pragma once

// The service's topics, all under `<prefix>/<node>/`:
//
//   status                      online / offline (the last will)        retained
//   <board>/availability        online / offline                        retained
//   <board>/info                identity, firmware, port, baud (JSON)   retained
//   <board>/relay/<n>           ON / OFF                                retained
//   <board>/input/<n>           ON / OFF                                retained
//   <board>/relays, /inputs     the masks, 0..255                       retained
//   <board>/supply              volts                                   retained
//   <board>/event               the board's events (JSON)
//   <board>/error               why a command was not carried out (JSON)
//   <board>/relay/<n>/set       ON, OFF, TOGGLE                         command
//   <board>/relay/<n>/pulse     milliseconds                            command
//   <board>/relays/set          {"mask": N} or {"on": [..], "off": [..]} command

#include <optional>
#include <string>
#include <vector>

namespace swb808::service {

// `text` as one topic level: the separator, the wildcards and NUL become '_'.
std::string TopicLevel(const std::string& text);
// A topic name without wildcards, NUL or empty levels.
bool IsTopicPath(const std::string& text);

class MqttTopics {
  public:
    MqttTopics(const std::string& prefix, const std::string& node);

    const std::string& Base() const { return base_; }  // "<prefix>/<node>/"
    std::string Status() const { return base_ + "status"; }
    // `board` is the board's topic level (TopicLevel of its id).
    std::string Of(const std::string& board, const std::string& leaf) const {
        return base_ + board + "/" + leaf;
    }
    std::string Relay(const std::string& board, int n) const {
        return Of(board, "relay/" + std::to_string(n));
    }
    std::string Input(const std::string& board, int n) const {
        return Of(board, "input/" + std::to_string(n));
    }

    // What the service subscribes to for commands.
    std::vector<std::string> CommandFilters() const;

    enum class CommandKind { RelaySet, RelayPulse, RelaysSet };
    struct Command {
        CommandKind kind;
        std::string board;  // the topic level
        std::string relay;  // as written, for RelaySet and RelayPulse
    };
    // A topic of CommandFilters() taken apart; nullopt for any other.
    std::optional<Command> ParseCommand(const std::string& topic) const;

  private:
    std::string base_;
};

}  // namespace swb808::service

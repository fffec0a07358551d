// Reads HP-GL/2 blocks only as far as page handling needs: which commands
// draw (so the page counts as marked) and where PG ends a page. Label text,
// encoded polylines and quoted strings are stepped over, so that their bytes
// are never taken for commands.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace tarvik::pcl5 {

class Hpgl2Scan {
public:
    enum class Event { Mark, PageEnd };

    // Data may arrive in pieces; state carries over between calls.
    void Feed(std::span<const uint8_t> data, const std::function<void(Event)>& onEvent);
    // A new HP-GL/2 block starts: forget a half-read command.
    void Restart();
    // Reset (ESC E) or IN: also the label terminator goes back to ETX.
    void Reset();

private:
    enum class State { Idle, SecondLetter, Params, Label, Encoded, Quote, CharParam, Terminator };
    void Mnemonic(char a, char b, const std::function<void(Event)>& onEvent);

    State m_state = State::Idle;
    char m_first = 0;
    uint8_t m_labelEnd = 0x03;
    bool m_quoteInParams = false;
};

} // namespace tarvik::pcl5

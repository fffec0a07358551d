#include "Hpgl2Scan.h"

#include <cctype>

namespace tarvik::pcl5 {

namespace {

bool IsLetter(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Commands that put ink on the page.
bool Draws(char a, char b) {
    static const char* const kDrawing[] = {"PD", "PE", "RR", "RA", "ER", "EA", "EP", "FP", "WG",
                                           "EW", "CI", "AA", "AR", "AT", "RT", "BZ", "BR", "LB"};
    for (const char* m : kDrawing)
        if (m[0] == a && m[1] == b) return true;
    return false;
}

} // namespace

void Hpgl2Scan::Restart() {
    if (m_state != State::Label) m_state = State::Idle;
}

void Hpgl2Scan::Reset() {
    m_state = State::Idle;
    m_labelEnd = 0x03;
}

void Hpgl2Scan::Mnemonic(char a, char b, const std::function<void(Event)>& onEvent) {
    a = static_cast<char>(std::toupper(static_cast<unsigned char>(a)));
    b = static_cast<char>(std::toupper(static_cast<unsigned char>(b)));
    if (Draws(a, b)) onEvent(Event::Mark);
    if (a == 'P' && b == 'G') onEvent(Event::PageEnd);
    if (a == 'I' && b == 'N') m_labelEnd = 0x03;
    if (a == 'L' && b == 'B')
        m_state = State::Label;
    else if (a == 'P' && b == 'E')
        m_state = State::Encoded;
    else if (a == 'D' && b == 'T')
        m_state = State::Terminator;
    else if (a == 'S' && b == 'M')
        m_state = State::CharParam;
    else
        m_state = State::Params;
}

void Hpgl2Scan::Feed(std::span<const uint8_t> data, const std::function<void(Event)>& onEvent) {
    for (uint8_t c : data) {
        switch (m_state) {
        case State::Idle:
        case State::Params:
            if (c == '"') {
                m_state = State::Quote;
            } else if (IsLetter(c)) {
                m_first = static_cast<char>(c);
                m_state = State::SecondLetter;
            } else if (c == ';') {
                m_state = State::Idle;
            }
            break;
        case State::SecondLetter:
            if (IsLetter(c))
                Mnemonic(m_first, static_cast<char>(c), onEvent);
            else if (c == ' ' || c == '\r' || c == '\n' || c == '\t')
                break;
            else
                m_state = State::Idle;
            break;
        case State::Label:
            if (c == m_labelEnd) m_state = State::Idle;
            break;
        case State::Encoded:
            if (c == ';') m_state = State::Idle;
            break;
        case State::Quote:
            if (c == '"') m_state = State::Params;
            break;
        case State::CharParam:
            // SM takes one character (';' alone turns it off).
            m_state = State::Params;
            break;
        case State::Terminator:
            if (c == ' ' || c == '\r' || c == '\n' || c == '\t') break;
            if (c != ';') m_labelEnd = c;
            m_state = State::Params;
            break;
        }
    }
}

} // namespace tarvik::pcl5

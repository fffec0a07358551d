#include "pcl5/Pcl5Parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvik::pcl5;

namespace {

std::string Describe(const Token& t) {
    switch (t.kind) {
    case TokenKind::Text:
        return std::string("T") + char(t.byte);
    case TokenKind::Control:
        return "C" + std::to_string(t.byte);
    case TokenKind::Escape:
        return std::string("E") + char(t.byte);
    case TokenKind::Uel:
        return "UEL@" + std::to_string(t.offset);
    case TokenKind::HpglData:
        return "GL[" + std::string(t.data.begin(), t.data.end()) + "]";
    case TokenKind::End:
        return "END";
    case TokenKind::Command: {
        std::string s;
        s += char(t.x);
        if (t.group) s += char(t.group);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", t.value.number);
        s += buf;
        s += char(t.letter);
        if (t.value.sign) s += "+/-";
        if (!t.data.empty()) s += "{" + std::string(t.data.begin(), t.data.end()) + "}";
        if (t.truncated) s += "!";
        return s;
    }
    }
    return "?";
}

std::vector<std::string> Tokens(const std::string& in, bool* truncated = nullptr) {
    Parser p(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    std::vector<std::string> out;
    for (int guard = 0; guard < 1000; ++guard) {
        Token t = p.Next();
        out.push_back(Describe(t));
        if (t.kind == TokenKind::End || t.kind == TokenKind::Uel) break;
    }
    if (truncated) *truncated = p.Truncated();
    return out;
}

using V = std::vector<std::string>;

} // namespace

TEST(Pcl5Parser, TwoCharacterAndParameterisedSequences) {
    EXPECT_EQ(Tokens("\x1b"
                     "E"
                     "A\r\n\x0c"),
              (V{"EE", "TA", "C13", "C10", "C12", "END"}));
    EXPECT_EQ(Tokens("\x1b&l26A\x1b(8U\x1b(s3B"), (V{"&l26A", "(8U", "(s3B", "END"}));
    // A missing value is 0; sign marks a relative move; fractions are kept.
    EXPECT_EQ(Tokens("\x1b*rB\x1b*p+150X\x1b&a-7.25V"),
              (V{"*r0B", "*p150X+/-", "&a-7.25V+/-", "END"}));
}

TEST(Pcl5Parser, CombinedSequencesShareTheirPrefix) {
    EXPECT_EQ(Tokens("\x1b(s0p10h12v0s3b3T!"),
              (V{"(s0P", "(s10H", "(s12V", "(s0S", "(s3B", "(s3T", "T!", "END"}));
    EXPECT_EQ(Tokens("\x1b*t300r\x1b*r1A"), (V{"*t300R", "*r1A", "END"}));
}

TEST(Pcl5Parser, DataCommandsSkipTheirBytesExactly) {
    // Data full of escapes and form feeds must not be read as commands.
    std::string row = "\x1b"
                      "E\x0c\x1b";
    EXPECT_EQ(Tokens("\x1b*b4W" + row + "X"), (V{"*b4W{" + row + "}", "TX", "END"}));
    // Several data commands in one combined sequence.
    EXPECT_EQ(Tokens("\x1b*b2m3v"
                     "abc"
                     "2W"
                     "de"
                     "Z"),
              (V{"*b2M", "*b3V{abc}", "*b2W{de}", "TZ", "END"}));
    EXPECT_EQ(Tokens("\x1b&p3X\x1b\x1b\x1b"
                     "A"),
              (V{"&p3X{\x1b\x1b\x1b}", "TA", "END"}));
    for (std::string cmd : {"(s", ")s", "*c", "*v", "(f", "&n", "*o", "&b", "*m", "*l", "*g"}) {
        EXPECT_EQ(Tokens("\x1b" + cmd +
                         "2W\x1b"
                         "EQ")[1],
                  "TQ")
            << cmd;
    }
    // A negative count carries no data.
    EXPECT_EQ(Tokens("\x1b*b-5WQ"), (V{"*b-5W+/-", "TQ", "END"}));
}

TEST(Pcl5Parser, TruncationIsReported) {
    bool truncated = false;
    EXPECT_EQ(Tokens("\x1b*b10Wabc", &truncated), (V{"*b10W{abc}!", "END"}));
    EXPECT_TRUE(truncated);
    Tokens("\x1b*p12", &truncated);
    EXPECT_TRUE(truncated);
    Tokens("A\x1b", &truncated);
    EXPECT_TRUE(truncated);
    Tokens("\x1b*p12X", &truncated);
    EXPECT_FALSE(truncated);
}

TEST(Pcl5Parser, MalformedSequencesResync) {
    // An invalid byte inside a sequence ends it and is read again.
    EXPECT_EQ(Tokens("\x1b*p12\rA"), (V{"C13", "TA", "END"}));
    EXPECT_EQ(Tokens("\x1b\x1b"
                     "E"),
              (V{"EE", "END"}));
    // A long run of broken sequences neither recurses nor loses the tail.
    std::string junk;
    for (int i = 0; i < 200000; ++i) junk += "\x1b*";
    junk += "\x1b"
            "E";
    Parser p(reinterpret_cast<const uint8_t*>(junk.data()), junk.size());
    Token t = p.Next();
    EXPECT_EQ(t.kind, TokenKind::Escape);
    EXPECT_EQ(t.byte, 'E');
}

TEST(Pcl5Parser, UelStopsAndIsNotConsumed) {
    std::string in = "AB\x1b%-12345X@PJL";
    Parser p(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    p.Next();
    p.Next();
    Token t = p.Next();
    EXPECT_EQ(t.kind, TokenKind::Uel);
    EXPECT_EQ(t.offset, 2u);
    EXPECT_EQ(p.Next().kind, TokenKind::Uel);
}

TEST(Pcl5Parser, HpglBlocksAreOpaque) {
    EXPECT_EQ(Tokens("\x1b%1BIN;SP1;LBhi\x03;\x1b%0A\x1b*r1A"),
              (V{"%1B", "GL[IN;SP1;LBhi\x03;]", "%0A", "*r1A", "END"}));
    // Reset leaves HP-GL/2 as well; a UEL inside it is still seen.
    EXPECT_EQ(Tokens("\x1b%0BPD;\x1b"
                     "EPD"),
              (V{"%0B", "GL[PD;]", "EE", "TP", "TD", "END"}));
    EXPECT_EQ(Tokens("\x1b%-1BPD;\x1b%-12345X"), (V{"%-1B+/-", "GL[PD;]", "UEL@8"}));
}

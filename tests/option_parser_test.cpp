#include "option_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "directions.h"

namespace ptmove {
namespace {

const char kPortMessage[] = "Nome porta seriale non riconosciuta\n";
const char kBaudMessage[] = "Errore nell'impostare il Baud Rate della porta seriale\n";
const char kAddressMessage[] = "Errore nell'impostare l'indirizzo della scheda\n";
const char kDirectionMessage[] = "Direzione non riconusciuta\n";
const char kSpeedMessage[] =
    "Errore nell'impostare la velocita del brandeggio.\nDeve essere compresa tra 0 e 100\n";
const char kDurationMessage[] = "Errore nell'impostare la durata del movimento.\n";
const char kPresetMessage[] =
    "Errore nell'impostare il numero del preset.\nDeve essere compreso tra 1 e 255\n";
const char kAngleMessage[] =
    "Errore nell'impostare la posizione del brandeggio.\nDeve essere compresa tra 0 e 360 gradi\n";
const char kWaitMessage[] = "Errore nell'impostare il tempo di attesa dell'arrivo.\n";

std::string unknown(const std::string& word) {
  return "Parametro \"" + word + "\" errato. Utilizza -h per visualizzare l'help\n\n";
}

struct ParseCase {
  std::vector<std::string> args;  // without the program's name
  std::string output;
  bool goesOn;
  std::function<void(const MoveSettings&)> check;
};

void runCases(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    std::vector<std::string> args = {"ptmove"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string joined;
    for (const std::string& arg : c.args) {
      joined += "[" + arg + "]";
    }
    SCOPED_TRACE(joined);
    MoveSettings settings;
    std::ostringstream out;
    EXPECT_EQ(parseCommandLine(args, settings, out), c.goesOn);
    EXPECT_EQ(out.str(), c.output);
    if (c.check) {
      c.check(settings);
    }
  }
}

TEST(OptionParserTest, AcceptsOptionsInAnyCaseAndOrder) {
  runCases({
      {{"-com", "1", "-dir", "r", "-t", "2"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.portNumber, 1);
         EXPECT_TRUE(s.portGiven && s.directionGiven && s.durationGiven && s.lastValueOk);
         EXPECT_EQ(s.motion, Motion::kRight);
         EXPECT_TRUE(s.panMove);
         EXPECT_FALSE(s.tiltMove);
         EXPECT_EQ(s.durationSeconds, 2.0f);
       }},
      {{"-COM", "2", "-DIR", "R", "-T", "1", "-Br", "9600", "-CH", "0A", "-VEL", "50"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.portNumber, 2);
         EXPECT_EQ(s.baudRate, 9600);
         EXPECT_EQ(s.address, 0x0A);
         EXPECT_EQ(s.speedPercent, 50);
         EXPECT_EQ(s.directionWord, "R");
         EXPECT_TRUE(s.directionGiven && s.durationGiven && s.lastValueOk);
       }},
      {{"-h", "-d"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.helpWanted && s.displayWanted);
         EXPECT_FALSE(s.lastValueOk);
       }},
      {{"-com", "1", "-com", "4"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_EQ(s.portNumber, 4); }},
      {{"-ch", "1FF"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.address, 0x1FF); }},
      {{"-ch", "0x1A"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.address, 26); }},
      {{"-vel", "100"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.speedPercent, 100); }},
      {{"-vel", "0"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.speedPercent, 0); }},
      {{"-t", "0.5"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.durationSeconds, 0.5f); }},
      {{"-com", "3x", "-t", "2,5"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.portNumber, 3);
         EXPECT_EQ(s.durationSeconds, 2.0f);
       }},
      {{"-t", " -1"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.durationSeconds, -1.0f);
         EXPECT_TRUE(s.durationGiven);
       }},
  });
}

TEST(OptionParserTest, TakesPortByNameOrNumber) {
  runCases({
      {{"-com", "COM3"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.portNumber, 3);
         EXPECT_TRUE(s.portGiven);
       }},
      {{"-com", "com12"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.portNumber, 12); }},
      {{"-com", "  Com7"}, "", true, [](const MoveSettings& s) { EXPECT_EQ(s.portNumber, 7); }},
      {{"-com", "2147483648"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_EQ(s.portNumber, 2147483647); }},
      {{"-com", " TCP://10.0.0.5:4001 x"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_EQ(s.portAddress, "TCP://10.0.0.5:4001"); }},
      {{"-com", "rfc2217://[::1]:4001", "-com", "4"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.portAddress, "") << "a later port replaces an earlier one";
         EXPECT_EQ(s.portNumber, 4);
       }},
      {{"-com", "udp://host:4001"}, kPortMessage + unknown("udp://host:4001"), false, nullptr},
      {{"-com", "COM"}, kPortMessage + unknown("COM"), false, nullptr},
      {{"-com", "COM-3"}, kPortMessage + unknown("COM-3"), false, nullptr},
      {{"-com", "COM 3"}, kPortMessage + unknown("COM"), false, nullptr},
      {{"-com", "port"}, kPortMessage + unknown("port"), false, nullptr},
  });
}

TEST(OptionParserTest, RefusedValueIsReadAsTheNextOption) {
  runCases({
      {{"-vel", "101"},
       kSpeedMessage + unknown("101"),
       false,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.speedPercent, 101);  // the refused value stays
         EXPECT_FALSE(s.lastValueOk);
       }},
      {{"-vel", " -1", "-d"}, kSpeedMessage + unknown("-1"), false, nullptr},
      {{"-t", "-1"}, kDurationMessage + unknown("-1"), false, nullptr},
      {{"-com", "-3"}, kPortMessage + unknown("-3"), false, nullptr},
      {{"-com", "-d"},
       kPortMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.displayWanted);
         EXPECT_FALSE(s.portGiven || s.lastValueOk);
       }},
      {{"-com", "1", "-t"},
       kDurationMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_FALSE(s.durationGiven || s.lastValueOk);
         EXPECT_EQ(s.durationSeconds, 1.0f);
       }},
      {{"-t", "2", "-t", "x"},
       kDurationMessage + unknown("x"),
       false,
       [](const MoveSettings& s) { EXPECT_TRUE(s.durationGiven); }},
      {{"-br"}, kBaudMessage, true, [](const MoveSettings& s) { EXPECT_FALSE(s.lastValueOk); }},
      {{"-ch", "-dir", "r", "-com", "3", "-t", "1"},
       kAddressMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.address, -0xD);
         EXPECT_TRUE(s.portGiven && s.directionGiven && s.durationGiven && s.lastValueOk);
       }},
      {{"-com", "1", "-t", "2", "-br", "zz"}, kBaudMessage + unknown("zz"), false, nullptr},
  });
}

// The head's other actions: the last action option accepted decides, a
// refused one changes nothing, -pan and -tilt combine, and -pos and -stop,
// which take no value, count as an accepted one. -wait and -e go with any
// action.
TEST(OptionParserTest, ActionOptions) {
  const auto action = [](Action expected) {
    return [expected](const MoveSettings& s) { EXPECT_EQ(s.action, expected); };
  };
  runCases({
      {{"-PRESET", "3"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.action, Action::kGoToPreset);
         EXPECT_EQ(s.presetNumber, 3);
         EXPECT_TRUE(s.lastValueOk);
       }},
      {{"-setpreset", "255"}, "", true, action(Action::kStorePreset)},
      {{"-clearpreset", "1"}, "", true, action(Action::kClearPreset)},
      {{"-preset", "0"}, kPresetMessage + unknown("0"), false, action(Action::kMove)},
      {{"-preset", "256"}, kPresetMessage + unknown("256"), false, nullptr},
      {{"-preset", "x"}, kPresetMessage + unknown("x"), false, nullptr},
      {{"-preset", "-3"}, kPresetMessage + unknown("-3"), false, nullptr},
      {{"-preset"},
       kPresetMessage,
       true,
       [](const MoveSettings& s) { EXPECT_FALSE(s.lastValueOk); }},
      {{"-pan", "123.45", "-tilt", "10"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.action, Action::kGoToPosition);
         EXPECT_TRUE(s.panGiven && s.tiltGiven);
         EXPECT_EQ(s.panDegrees, 123.45f);
         EXPECT_EQ(s.tiltDegrees, 10.0f);
       }},
      {{"-tilt", "0"}, "", true, [](const MoveSettings& s) { EXPECT_FALSE(s.panGiven); }},
      {{"-pan", "360"}, kAngleMessage + unknown("360"), false, nullptr},
      {{"-pan", "nan", "-d"}, kAngleMessage + unknown("nan"), false, nullptr},
      {{"-tilt", " -1", "-d"}, kAngleMessage + unknown("-1"), false, nullptr},
      {{"-pos"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.action, Action::kReportPosition);
         EXPECT_TRUE(s.lastValueOk) << "an action alone makes a run";
       }},
      {{"-Stop", "-e"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.action, Action::kStop);
         EXPECT_TRUE(s.lastValueOk && s.exitStatusWanted && !s.somethingRefused);
       }},
      {{"-stop", "-preset", "2"}, "", true, action(Action::kGoToPreset)},
      {{"-preset", "2", "-WAIT", "2.5"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.waitGiven && s.waitsForArrival());
         EXPECT_EQ(s.waitSeconds, 2.5f);
       }},
      {{"-wait", "-1"},
       kWaitMessage + unknown("-1"),
       false,
       [](const MoveSettings& s) { EXPECT_TRUE(!s.waitGiven && s.somethingRefused); }},
      {{"-pos", "-wait", "1"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_FALSE(s.waitsForArrival()); }},
      {{"-preset", "3", "-dir", "x"}, kDirectionMessage, true, action(Action::kMove)},
      {{"-dir", "r", "-pos", "-preset", "4"}, "", true, action(Action::kGoToPreset)},
      {{"-preset", "4", "-dir", "-pos"}, kDirectionMessage, true, action(Action::kReportPosition)},
      {{"-pos", "-preset", "x"},
       kPresetMessage + unknown("x"),
       false,
       action(Action::kReportPosition)},
  });
}

TEST(OptionParserTest, BlankArgumentsKeepThePreviousWordAndValue) {
  runCases({
      {{"-com", ""},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.portGiven && s.lastValueOk);
         EXPECT_EQ(s.portNumber, 0);
       }},
      {{"-com", "3", ""},
       kPortMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.portNumber, 3);
         EXPECT_FALSE(s.lastValueOk);
       }},
      {{"-t", "2", " ", "3"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_EQ(s.durationSeconds, 3.0f); }},
      {{""}, unknown(""), false, nullptr},
      {{"-t", " \t"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.durationGiven);
         EXPECT_EQ(s.durationSeconds, 1.0f);
       }},
  });
}

TEST(OptionParserTest, Directions) {
  runCases({
      {{"-dir", "x"},
       kDirectionMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.lastValueOk);
         EXPECT_FALSE(s.directionGiven);
         EXPECT_EQ(s.directionWord, "x");
       }},
      {{"-dir", "r", "-dir", "right"},
       kDirectionMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_FALSE(s.directionGiven);
         EXPECT_TRUE(s.panMove);
         EXPECT_EQ(s.motion, Motion::kRight);
       }},
      {{"-dir", "-t", "2"},
       kDirectionMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.directionWord, "-t");
         EXPECT_TRUE(s.durationGiven && s.lastValueOk);
       }},
      {{"-dir"},
       kDirectionMessage,
       true,
       [](const MoveSettings& s) { EXPECT_FALSE(s.lastValueOk); }},
      {{"-dir", "r", "-dir", "a"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.panMove && s.directionGiven);
         EXPECT_EQ(s.motion, Motion::kAuto);
       }},
      {{"-dir", "u", "-dir", "l"},
       "",
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.panMove);
         EXPECT_FALSE(s.tiltMove);
       }},
      {{"-com", "1", "-dir", "r", "-dir", "-d", "-t", "2"},
       kDirectionMessage,
       true,
       [](const MoveSettings& s) {
         EXPECT_TRUE(s.directionGiven && s.displayWanted && s.lastValueOk);
         EXPECT_EQ(s.directionWord, "-d");
       }},
      {{"-dir", "r", "-dir", ""},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_TRUE(s.directionGiven); }},
      {{"-dir", "zi", "-dir", "a"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_FALSE(s.panMove || s.tiltMove); }},
  });
}

// -proto: a protocol by its word; another word is refused as an unknown
// -dir word is, and the protocol stays as it was.
TEST(OptionParserTest, Protocols) {
  const char* refusal = "Protocollo non riconosciuto\n";
  runCases({
      {{"-PROTO", "P"},
       "",
       true,
       [](const MoveSettings& s) { EXPECT_EQ(s.protocol, findProtocol("p")); }},
      {{"-proto", "p", "-proto", "x"},
       refusal,
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.protocol, findProtocol("p"));
         EXPECT_TRUE(s.lastValueOk && s.somethingRefused);
       }},
      {{"-proto"}, refusal, true, [](const MoveSettings& s) { EXPECT_FALSE(s.lastValueOk); }},
      {{"-proto", "-d"},
       refusal,
       true,
       [](const MoveSettings& s) {
         EXPECT_EQ(s.protocol, &defaultProtocol());
         EXPECT_TRUE(s.displayWanted && !s.lastValueOk);
       }},
  });
}

TEST(OptionParserTest, FindsDirectionsByWholeWordIgnoringCase) {
  EXPECT_EQ(findDirection("R")->displayText, "destra");
  EXPECT_EQ(findDirection("l")->displayText, "sinistra");
  EXPECT_EQ(findDirection("U")->displayText, "su");
  EXPECT_EQ(findDirection("d")->displayText, "giu");
  EXPECT_EQ(findDirection("a")->displayText, "auto");
  EXPECT_EQ(findDirection("Ur")->displayText, "su e destra");
  EXPECT_EQ(findDirection("DL")->displayText, "giu e sinistra");
  EXPECT_EQ(findDirection("zO")->displayText, "zoom indietro");
  EXPECT_EQ(findDirection("IC")->displayText, "chiusura iride");
  for (const char* word : {"", "right", "rr", "x", "-d", "r ", "u r", "urr", "z", "zoom"}) {
    EXPECT_EQ(findDirection(word), nullptr) << word;
  }
}

TEST(OptionParserTest, StopsAtFirstUnknownWord) {
  runCases({
      {{"-xyz", "-h"},
       unknown("-xyz"),
       false,
       [](const MoveSettings& s) { EXPECT_FALSE(s.helpWanted); }},
      {{"-c"}, unknown("-c"), false, nullptr},
      {{"-comx", "1"}, unknown("-comx"), false, nullptr},
      {{"-com1"}, unknown("-com1"), false, nullptr},
      {{"-h", "%s%n"},
       unknown("%s%n"),
       false,
       [](const MoveSettings& s) { EXPECT_TRUE(s.helpWanted); }},
      {{"  -d  extra"}, "", true, [](const MoveSettings& s) { EXPECT_TRUE(s.displayWanted); }},
      {{std::string(1 << 20, 'w')}, unknown(std::string(1 << 20, 'w')), false, nullptr},
  });
}

}  // namespace
}  // namespace ptmove

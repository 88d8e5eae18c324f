#include "reports.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <limits>
#include <sstream>

#include "expected_texts.h"

namespace ptmove {
namespace {

TEST(ReportsTest, BannerAndHelp) {
  std::ostringstream banner;
  printBanner(banner, "ptmove.exe");
  EXPECT_EQ(banner.str(), testsupport::bannerText("ptmove.exe"));
  std::ostringstream help;
  printHelp(help, "pt");
  EXPECT_EQ(help.str(), testsupport::helpText("pt"));
}

MoveSettings settingsFor(std::int32_t port, std::int32_t address, const char* direction,
                         float seconds) {
  MoveSettings s;
  s.portNumber = port;
  s.address = address;
  s.directionWord = direction;
  s.durationSeconds = seconds;
  return s;
}

TEST(ReportsTest, SettingsDisplay) {
  const CommandFrame right = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
  const std::string frameLine = "Comando inviato: \n 0xff 0x01 0x00 0x02 0x3f 0x00 0x42";
  const struct {
    MoveSettings settings;
    std::string expected;
  } cases[] = {
      {settingsFor(1, 0x01, "r", 2.0f),
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\n"
       "Direzione di movimento: destra\nTempo esecuzione comando 2 sec.\n" +
           frameLine},
      {settingsFor(12, 0x1FF, "L", 0.25f),
       "Porta selezionata COM12\nBaud rate 2400\nIndirizzo 0x1ff\n"
       "Direzione di movimento: sinistra\nTempo esecuzione comando 0.25 sec.\n" +
           frameLine},
      {settingsFor(0, 0x0A, "A", 2.5f),
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0x0a\n"
       "Direzione di movimento: auto\n\nTempo esecuzione comando 2.5 sec.\n" +
           frameLine},
      {settingsFor(-5, -13, "x", 0.7f),
       "Porta selezionata COM-5\nBaud rate 2400\nIndirizzo 0xfffffff3\n"
       "Direzione di movimento: Tempo esecuzione comando 0.7 sec.\n" +
           frameLine},
      {settingsFor(3, 0, "", 1234567.0f),
       "Porta selezionata COM3\nBaud rate 2400\nIndirizzo 0x00\n"
       "Direzione di movimento: Tempo esecuzione comando 1.23457e+06 sec.\n" +
           frameLine},
      {settingsFor(3, 0, "u", std::numeric_limits<float>::infinity()),
       "Porta selezionata COM3\nBaud rate 2400\nIndirizzo 0x00\n"
       "Direzione di movimento: su\nTempo esecuzione comando inf sec.\n" +
           frameLine},
      {settingsFor(3, 0, "d", -std::numeric_limits<float>::quiet_NaN()),
       "Porta selezionata COM3\nBaud rate 2400\nIndirizzo 0x00\n"
       "Direzione di movimento: giu\nTempo esecuzione comando -nan sec.\n" +
           frameLine},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    printSettings(out, c.settings, {right});
    EXPECT_EQ(out.str(), c.expected);
  }
}

TEST(ReportsTest, DisplayLeavesStreamInHexWithZeroFill) {
  std::ostringstream out;
  printSettings(out, MoveSettings{}, {CommandFrame{0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}});
  out.str("");
  out << std::setw(3) << 10;
  EXPECT_EQ(out.str(), "00a");
}

TEST(ReportsTest, FormatsFloatsLikeDefaultStreamNotation) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1.2, "1.2"},
      {2.0, "2"},
      {0.0005, "0.0005"},
      {0.00001, "1e-05"},
      {-1.0, "-1"},
      {100000.0, "100000"},
      {1e6, "1e+06"},
      {static_cast<double>(0.7f), "0.7"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatDefaultFloat(c.value), c.text);
  }
}

}  // namespace
}  // namespace ptmove

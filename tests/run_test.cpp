#include "run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "expected_texts.h"

namespace ptmove {
namespace {

const char kMoving[] = "Brandeggio in movimento  \n";
const char kWarning[] = "ATTENZIONE, non hai impostato i seguenti parametri\n";
const char kNoPort[] = " - Non hai selezionato la porta seriale\n";
const char kNoDirection[] = " - Non hai selezionato la direzione di movimento\n";
const char kNoDuration[] = " - Non hai impostato il tempo di movimento\n";

struct Outcome {
  std::string output;
  int status = -1;
  int sends = 0;
  MoveRequest request;
  CommandRequest commands;
};

// Runs with a line that records what it was handed and answers `result`.
Outcome run(std::vector<std::string> args, const CommandResult& result = {}) {
  Outcome outcome;
  std::ostringstream out;
  std::ostringstream diagnostics;
  const Line line = {[&](std::ostream& o, std::ostream&, const MoveRequest& r) {
                       o << "<send>";
                       ++outcome.sends;
                       outcome.request = r;
                       return result.failure;
                     },
                     [&](std::ostream& o, std::ostream&, const CommandRequest& r) {
                       o << "<commands>";
                       ++outcome.sends;
                       outcome.commands = r;
                       return result;
                     }};
  outcome.status = runProgram(args, out, diagnostics, line);
  EXPECT_EQ(diagnostics.str(), "") << "the parser's messages are for standard output only";
  outcome.output = out.str();
  return outcome;
}

TEST(RunTest, DecidesWhatTheRunDoes) {
  const std::string banner = testsupport::bannerText("ptmove");
  const struct {
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {{"ptmove"}, banner + "\n"},
      {{"  ptmove  extra"}, banner + "\n"},
      {{"ptmove", "-com", "1", "-dir", "r", "-t", "2"}, std::string("\n") + kMoving + "<send>"},
      {{"ptmove", "-dir", "r", "-t", "2"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-t", "2"}, std::string("\n") + kWarning + kNoPort + kNoDirection},
      {{"ptmove", "-com", "1"}, std::string("\n") + kWarning + kNoDirection + kNoDuration},
      {{"ptmove", "-com", "1", "-dir", "r", "-t", "2", "-br"},
       "Errore nell'impostare il Baud Rate della porta seriale\n\n"},
      {{"ptmove", "-com", "1", "-t", "2", "-dir", "x"},
       std::string("Direzione non riconusciuta\n\n") + kWarning + kNoDirection},
      {{"ptmove", "-xyz"}, "Parametro \"-xyz\" errato. Utilizza -h per visualizzare l'help\n\n"},
      {{"ptmove", "-h"}, "\n" + testsupport::helpText("ptmove")},
      {{"ptmove", "-d"},
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0x01\nDirezione di movimento: "
       "Tempo esecuzione comando 1 sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x00 0x00 0x00 0x01\n"},
      // The head's other commands need the port alone, and say what they do.
      {{"ptmove", "-com", "1", "-preset", "3"}, "\nBrandeggio verso il preset 3\n<commands>"},
      {{"ptmove", "-setpreset", "12", "-com", "1"}, "\nMemorizzazione del preset 12\n<commands>"},
      {{"ptmove", "-com", "1", "-clearpreset", "200"},
       "\nCancellazione del preset 200\n<commands>"},
      {{"ptmove", "-com", "1", "-tilt", "10"},
       "\nBrandeggio verso la posizione impostata\n<commands>"},
      {{"ptmove", "-pos", "-com", "1"},
       "\nLettura della posizione del brandeggio\n<commands>Nessuna risposta dal brandeggio\n"},
      {{"ptmove", "-preset", "3"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-com", "1", "-preset", "3", "-dir", "r"},
       std::string("\n") + kWarning + kNoDuration},
      {{"ptmove", "-com", "1", "-preset", "0"},
       "Errore nell'impostare il numero del preset.\nDeve essere compreso tra 1 e 255\n"
       "Parametro \"0\" errato. Utilizza -h per visualizzare l'help\n\n"},
      {{"ptmove", "-pos"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-stop"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-com", "1", "-ch", "5", "-stop"}, "\nArresto del brandeggio\n<commands>"},
      {{"ptmove", "-com", "1", "-stop", "-dir", "r", "-t", "1"},
       std::string("\n") + kMoving + "<send>"},
      {{"ptmove", "-com", "1", "-dir", "r", "-t", "1", "-pos", "-br"},
       "Errore nell'impostare il Baud Rate della porta seriale\n\n"},
      // -d shows what an action does and each of its frames; no direction
      // or time, which play no part.
      {{"ptmove", "-com", "1", "-ch", "0A", "-preset", "17", "-d", "-wait", "2.5"},
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x0a\nAzione: vai al preset 17\n"
       "Attesa dell'arrivo fino a 2.5 sec.\nComando inviato: \n"
       " 0xff 0x0a 0x00 0x07 0x00 0x11 0x22\n"
       "Richieste della posizione, ripetute fino all'arrivo: \n"
       " 0xff 0x0a 0x00 0x51 0x00 0x00 0x5b\n 0xff 0x0a 0x00 0x53 0x00 0x00 0x5d\n"
       "Brandeggio verso il preset 17\n<commands>Nessuna risposta dal brandeggio\n"},
      {{"ptmove", "-com", "1", "-pan", "123.45", "-tilt", "359.996", "-d"},
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\n"
       "Azione: vai alla posizione pan 123.45 gradi, tilt 0.00 gradi\nComandi inviati: \n"
       " 0xff 0x01 0x00 0x4b 0x30 0x39 0xb5\n 0xff 0x01 0x00 0x4d 0x00 0x00 0x4e\n"
       "Brandeggio verso la posizione impostata\n<commands>"},
      {{"ptmove", "-com", "1", "-stop", "-wait", "3", "-d"},
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\nAzione: arresto\n"
       "Comando inviato: \n 0xff 0x01 0x00 0x00 0x00 0x00 0x01\n"
       "Arresto del brandeggio\n<commands>"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(c.args);
    EXPECT_EQ(outcome.output, c.output) << ::testing::PrintToString(c.args);
    EXPECT_EQ(outcome.status, 0) << "without -e";
  }
}

// What the head said, as the run prints it; -wait only where the head was
// sent somewhere.
TEST(RunTest, PrintsWhatTheHeadSaid) {
  const Position where{12345, 1000};
  const std::string at = "pan 123.45 gradi, tilt 10.00 gradi\n";
  const struct {
    std::vector<std::string> args;
    CommandResult result;
    std::string last;  // what follows the line's own output
    bool waits;
  } cases[] = {
      {{"-pos"}, {LineFailure::kNone, where, false}, "Posizione " + at, false},
      {{"-pos"}, {LineFailure::kNoAnswer, {}, false}, "Nessuna risposta dal brandeggio\n", false},
      {{"-pos"}, {LineFailure::kPortNotOpened, {}, false}, "", false},
      {{"-preset", "3", "-wait", "5"},
       {LineFailure::kNone, where, true},
       "Brandeggio arrivato: " + at,
       true},
      {{"-pan", "123.45", "-wait", "5"},
       {LineFailure::kNotArrived, where, false},
       "Brandeggio non arrivato: " + at,
       true},
      {{"-wait", "5", "-tilt", "10"},
       {LineFailure::kNoAnswer, {}, false},
       "Nessuna risposta dal brandeggio\n",
       true},
      {{"-setpreset", "3", "-wait", "5"}, {}, "", false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pt", "-com", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome outcome = run(args, c.result);
    const std::string output = outcome.output;
    EXPECT_EQ(output.substr(output.find("<commands>") + 10), c.last) << output;
    EXPECT_EQ(outcome.commands.arrival.has_value(), c.waits) << output;
  }
}

// -e: the first failure the run met decides the exit status.
TEST(RunTest, ExitStatusSaysWhatHappened) {
  const struct {
    std::vector<std::string> args;
    LineFailure failure;
    int status;
  } cases[] = {
      {{"-e", "-com", "1", "-dir", "r", "-t", "1"}, LineFailure::kNone, 0},
      {{"-com", "1", "-dir", "r", "-t", "1"}, LineFailure::kPortNotOpened, 0},
      {{"-com", "1", "-dir", "r", "-t", "1", "-E"}, LineFailure::kPortNotOpened, 69},
      {{"-e", "-com", "1", "-dir", "r", "-t", "1"}, LineFailure::kLineFailed, 74},
      {{"-e", "-com", "1", "-preset", "3", "-wait", "1"}, LineFailure::kNotArrived, 75},
      {{"-e", "-com", "1", "-pos"}, LineFailure::kNoAnswer, 76},
      {{"-e", "-h"}, LineFailure::kNone, 0},
      {{"-e"}, LineFailure::kNone, 64},
      {{"-e", "-d"}, LineFailure::kNone, 64},
      {{"-e", "-dir", "r", "-t", "1"}, LineFailure::kNone, 64},
      {{"-e", "-com", "1", "-dir", "x", "-t", "1"}, LineFailure::kNone, 64},
      {{"-e", "-com", "1", "-dir", "r", "-t", "1", "-br"}, LineFailure::kNone, 64},
      {{"-e", "-com", "1", "-br", "-dir", "r", "-t", "1"}, LineFailure::kNone, 64},
      {{"-com", "1", "-dirr", "r", "-e"}, LineFailure::kNone, 64},
      {{"-e", "-com", "1", "-vel", "150"}, LineFailure::kNone, 64},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run(args, {c.failure, {}, false}).status, c.status) << ::testing::PrintToString(args);
  }
}

TEST(RunTest, HelpWinsOverACompleteMovement) {
  Outcome outcome = run({"pt", "-com", "1", "-dir", "r", "-t", "2", "-h"});
  EXPECT_EQ(outcome.sends, 0);
  EXPECT_NE(outcome.output.find("pt -com s [-br n]"), std::string::npos);
}

TEST(RunTest, HandsTheMovementOver) {
  Outcome outcome = run({"pt", "-com", "com4", "-br", "9600", "-ch", "05", "-dir", "u", "-vel",
                         "50", "-t", "0.7", "-d"});
  ASSERT_EQ(outcome.sends, 1);
  EXPECT_EQ(outcome.request.portNumber, 4);
  EXPECT_EQ(outcome.request.baudRate, 9600);
  EXPECT_EQ(outcome.request.durationSeconds, 0.7f);
  const CommandFrame expected = {0xFF, 0x05, 0x00, 0x08, 0x00, 0x1F, 0x2C};
  EXPECT_EQ(outcome.request.frame, expected);
  EXPECT_NE(outcome.output.find(" 0xff 0x05 0x00 0x08 0x00 0x1f 0x2c\n"
                                "Brandeggio in movimento  \n<send>"),
            std::string::npos);
}

TEST(RunTest, SecondDirIsReadAsDisplayOption) {
  Outcome outcome = run({"pt", "-com", "1", "-dir", "r", "-dir", "-d", "-t", "2"});
  EXPECT_EQ(outcome.sends, 1);
  EXPECT_NE(outcome.output.find("Direzione di movimento: Tempo esecuzione comando 2 sec.\n"),
            std::string::npos);
}

TEST(RunTest, NoArgumentsAtAll) {
  Outcome outcome = run({});
  EXPECT_EQ(outcome.output.find("Programma per manovrare un brandeggio\n"), 0u);
  EXPECT_NE(outcome.output.find("\t -h \n\n"), std::string::npos);
}

}  // namespace
}  // namespace ptmove

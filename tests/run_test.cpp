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

// What the line does when handed a run: reports `events` and answers
// `result`.
struct LineAnswer {
  std::vector<LineEvent> events;
  CommandResult result;
};

// A line that records what it was handed, marks it in the output, and
// answers as it is told.
class RecordingLine final : public Line {
 public:
  RecordingLine(std::ostream& out, Outcome& outcome, const LineAnswer& answer)
      : out_(out), outcome_(outcome), answer_(answer) {}

  void move(const MoveRequest& request, LineReporter& reporter) override {
    out_ << "<send>";
    ++outcome_.sends;
    outcome_.request = request;
    tell(reporter);
  }

  CommandResult commands(const CommandRequest& request, LineReporter& reporter) override {
    out_ << "<commands>";
    ++outcome_.sends;
    outcome_.commands = request;
    tell(reporter);
    return answer_.result;
  }

 private:
  void tell(LineReporter& reporter) {
    for (const LineEvent& event : answer_.events) {
      reporter.report(event);
    }
  }

  std::ostream& out_;
  Outcome& outcome_;
  const LineAnswer& answer_;
};

Outcome run(std::vector<std::string> args, const LineAnswer& answer = {}) {
  Outcome outcome;
  std::ostringstream out;
  std::ostringstream diagnostics;
  RecordingLine line(out, outcome, answer);
  outcome.status = runProgram(args, out, diagnostics, line);
  if (answer.events.empty()) {
    EXPECT_EQ(diagnostics.str(), "") << "the parser's messages are for standard output only";
  }
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
      {{"ptmove", "-com", "1", "-dir", "r", "-t", "2"}, std::string("\n") + kMoving + "\n<send>"},
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
      {{"ptmove", "-com", "1", "-preset", "3"}, "\nBrandeggio verso il preset 3\n\n<commands>"},
      {{"ptmove", "-setpreset", "12", "-com", "1"}, "\nMemorizzazione del preset 12\n\n<commands>"},
      {{"ptmove", "-com", "1", "-clearpreset", "200"},
       "\nCancellazione del preset 200\n\n<commands>"},
      {{"ptmove", "-com", "1", "-tilt", "10"},
       "\nBrandeggio verso la posizione impostata\n\n<commands>"},
      {{"ptmove", "-pos", "-com", "1"},
       "\nLettura della posizione del brandeggio\n\n<commands>Nessuna risposta dal brandeggio\n"},
      {{"ptmove", "-preset", "3"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-com", "1", "-preset", "3", "-dir", "r"},
       std::string("\n") + kWarning + kNoDuration},
      {{"ptmove", "-com", "1", "-preset", "0"},
       "Errore nell'impostare il numero del preset.\nDeve essere compreso tra 1 e 255\n"
       "Parametro \"0\" errato. Utilizza -h per visualizzare l'help\n\n"},
      {{"ptmove", "-pos"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-stop"}, std::string("\n") + kWarning + kNoPort},
      {{"ptmove", "-com", "1", "-ch", "5", "-stop"}, "\nArresto del brandeggio\n\n<commands>"},
      {{"ptmove", "-com", "1", "-stop", "-dir", "r", "-t", "1"},
       std::string("\n") + kMoving + "\n<send>"},
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
       "Brandeggio verso il preset 17\n\n<commands>Nessuna risposta dal brandeggio\n"},
      {{"ptmove", "-com", "1", "-pan", "123.45", "-tilt", "359.996", "-d"},
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\n"
       "Azione: vai alla posizione pan 123.45 gradi, tilt 0.00 gradi\nComandi inviati: \n"
       " 0xff 0x01 0x00 0x4b 0x30 0x39 0xb5\n 0xff 0x01 0x00 0x4d 0x00 0x00 0x4e\n"
       "Brandeggio verso la posizione impostata\n\n<commands>"},
      {{"ptmove", "-com", "1", "-stop", "-wait", "3", "-d"},
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\nAzione: arresto\n"
       "Comando inviato: \n 0xff 0x01 0x00 0x00 0x00 0x00 0x01\n"
       "Arresto del brandeggio\n\n<commands>"},
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
    LineAnswer answer;
    std::string last;  // what follows the line's own output
    bool waits;
  } cases[] = {
      {{"-pos"}, {{}, {where, false}}, "Posizione " + at, false},
      {{"-pos"}, {{}, {}}, "Nessuna risposta dal brandeggio\n", false},
      {{"-pos"}, {{event::PortNotOpened{"no such port"}}, {}}, "Failed to open port\n", false},
      {{"-preset", "3", "-wait", "5"}, {{}, {where, true}}, "Brandeggio arrivato: " + at, true},
      {{"-pan", "123.45", "-wait", "5"},
       {{}, {where, false}},
       "Brandeggio non arrivato: " + at,
       true},
      {{"-wait", "5", "-tilt", "10"}, {{}, {}}, "Nessuna risposta dal brandeggio\n", true},
      {{"-setpreset", "3", "-wait", "5"}, {}, "", false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pt", "-com", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome outcome = run(args, c.answer);
    const std::string output = outcome.output;
    EXPECT_EQ(output.substr(output.find("<commands>") + 10), c.last) << output;
    EXPECT_EQ(outcome.commands.arrival.has_value(), c.waits) << output;
  }
}

// -e: the first failure the run met decides the exit status.
TEST(RunTest, ExitStatusSaysWhatHappened) {
  const LineAnswer done{{}, {Position{}, true}};
  const LineAnswer notOpened{{event::PortNotOpened{"no such port"}}, {}};
  const LineAnswer lineFailed{{event::LineNotSet{"no such speed"}}, {Position{}, true}};
  const LineAnswer notArrived{{}, {Position{}, false}};
  const LineAnswer noAnswer{{}, {}};
  const struct {
    std::vector<std::string> args;
    LineAnswer answer;
    int status;
  } cases[] = {
      {{"-e", "-com", "1", "-dir", "r", "-t", "1"}, done, 0},
      {{"-com", "1", "-dir", "r", "-t", "1"}, notOpened, 0},
      {{"-com", "1", "-dir", "r", "-t", "1", "-E"}, notOpened, 69},
      {{"-e", "-com", "1", "-dir", "r", "-t", "1"}, lineFailed, 74},
      {{"-e", "-com", "1", "-preset", "3", "-wait", "1"}, notArrived, 75},
      {{"-e", "-com", "1", "-pos"}, noAnswer, 76},
      {{"-e", "-com", "1", "-pos"}, lineFailed, 74},
      {{"-e", "-h"}, done, 0},
      {{"-e"}, done, 64},
      {{"-e", "-d"}, done, 64},
      {{"-e", "-dir", "r", "-t", "1"}, done, 64},
      {{"-e", "-com", "1", "-dir", "x", "-t", "1"}, done, 64},
      {{"-e", "-com", "1", "-dir", "r", "-t", "1", "-br"}, done, 64},
      {{"-e", "-com", "1", "-br", "-dir", "r", "-t", "1"}, done, 64},
      {{"-com", "1", "-dirr", "r", "-e"}, done, 64},
      {{"-e", "-com", "1", "-vel", "150"}, done, 64},
      {{"-e", "-com", "1", "-proto", "x", "-stop"}, done, 64},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run(args, c.answer).status, c.status) << ::testing::PrintToString(args);
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
  EXPECT_EQ(outcome.request.port.number, 4);
  EXPECT_EQ(outcome.request.port.baudRate, 9600);
  EXPECT_EQ(outcome.request.durationSeconds, 0.7f);
  EXPECT_EQ(outcome.request.frame, Bytes({0xFF, 0x05, 0x00, 0x08, 0x00, 0x1F, 0x2C}));
  EXPECT_EQ(outcome.request.stop, Bytes({0xFF, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05}));
  EXPECT_NE(outcome.output.find(" 0xff 0x05 0x00 0x08 0x00 0x1f 0x2c\n"
                                "Brandeggio in movimento  \n\n<send>"),
            std::string::npos);
}

// The protocol asked for makes every frame: the movement, its stop, the
// commands and the questions, whose answers it finds.
TEST(RunTest, SpeaksTheProtocolAskedFor) {
  Outcome moved = run({"pt", "-com", "1", "-proto", "p", "-ch", "0", "-dir", "l", "-t", "1"});
  EXPECT_EQ(moved.request.frame, Bytes({0xA0, 0x00, 0x00, 0x04, 0x3F, 0x00, 0xAF, 0x34}));
  EXPECT_EQ(moved.request.stop, Bytes({0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F}));
  Outcome sent = run({"pt", "-com", "1", "-proto", "P", "-preset", "2", "-wait", "1"});
  ASSERT_EQ(sent.commands.frames.size(), 1u);
  EXPECT_EQ(sent.commands.frames[0], Bytes({0xA0, 0x01, 0x00, 0x07, 0x00, 0x02, 0xAF, 0x0B}));
  ASSERT_TRUE(sent.commands.questions);
  const Question& pan = sent.commands.questions->pan;
  EXPECT_EQ(pan.bytes, Bytes({0xA0, 0x01, 0x00, 0x51, 0x00, 0x00, 0xAF, 0x5F}));
  // An acknowledgement, a reply with a bad checksum, then the reply.
  EXPECT_EQ(pan.answerIn({0xA2, 0xA0, 0x01, 0x00, 0x59, 0x30, 0x39, 0xAF, 0x00, 0xA0, 0x01, 0x00,
                          0x59, 0x30, 0x39, 0xAF, 0x5E}),
            std::optional<std::uint16_t>(12345));
  EXPECT_EQ(pan.answerIn({0xFF, 0x01, 0x00, 0x59, 0x30, 0x39, 0xC3}), std::nullopt)
      << "a Pelco D reply is not a Pelco P head's";
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

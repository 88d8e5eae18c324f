#include "option_parser.h"

#include "ascii.h"
#include "directions.h"
#include "scan.h"

namespace ptmove {

namespace {

enum class Option {
  kHelp,
  kPort,
  kBaudRate,
  kAddress,
  kDirection,
  kSpeed,
  kDuration,
  kDisplay,
  kGoToPreset,
  kStorePreset,
  kClearPreset,
  kPan,
  kTilt,
  kReportPosition,
  kStop,
  kWait,
  kExitStatus,
  kProtocol,
};

struct OptionRow {
  std::string_view word;
  Option option;
  const char* refusal;  // printed when the value is refused; null for flags
};

constexpr const char* kPresetRefusal =
    "Errore nell'impostare il numero del preset.\nDeve essere compreso tra 1 e 255\n";
constexpr const char* kAngleRefusal =
    "Errore nell'impostare la posizione del brandeggio.\nDeve essere compresa tra 0 e 360 gradi\n";

// In the order a word is compared with them. The refusal messages are
// fixed texts, typos included, that scripts match: printed as they stand.
constexpr OptionRow kOptions[] = {
    {"-h", Option::kHelp, nullptr},
    {"-com", Option::kPort, "Nome porta seriale non riconosciuta\n"},
    {"-br", Option::kBaudRate, "Errore nell'impostare il Baud Rate della porta seriale\n"},
    {"-ch", Option::kAddress, "Errore nell'impostare l'indirizzo della scheda\n"},
    {"-dir", Option::kDirection, "Direzione non riconusciuta\n"},
    {"-vel", Option::kSpeed,
     "Errore nell'impostare la velocita del brandeggio.\nDeve essere compresa tra 0 e 100\n"},
    {"-t", Option::kDuration, "Errore nell'impostare la durata del movimento.\n"},
    {"-d", Option::kDisplay, nullptr},
    {"-preset", Option::kGoToPreset, kPresetRefusal},
    {"-setpreset", Option::kStorePreset, kPresetRefusal},
    {"-clearpreset", Option::kClearPreset, kPresetRefusal},
    {"-pan", Option::kPan, kAngleRefusal},
    {"-tilt", Option::kTilt, kAngleRefusal},
    {"-pos", Option::kReportPosition, nullptr},
    {"-stop", Option::kStop, nullptr},
    {"-wait", Option::kWait, "Errore nell'impostare il tempo di attesa dell'arrivo.\n"},
    {"-e", Option::kExitStatus, nullptr},
    {"-proto", Option::kProtocol, "Protocollo non riconosciuto\n"},
};

const OptionRow* findOption(std::string_view word) {
  for (const OptionRow& row : kOptions) {
    if (equalsIgnoreCase(word, row.word)) {
      return &row;
    }
  }
  return nullptr;
}

// Whether `word` is a server's address: the port checks the rest when it
// connects, as it checks that a COM number exists when it opens it.
bool namesServer(std::string_view word) {
  return startsWithIgnoreCase(word, "tcp://") || startsWithIgnoreCase(word, "rfc2217://");
}

// The port is a number, its name (COM, any case, directly followed by the
// number, as users type it on Windows), or a server's address
// (tcp://HOST:PORT, rfc2217://HOST:PORT). A later port replaces an
// earlier one, of either kind.
ScanResult scanPort(std::string_view text, MoveSettings& settings) {
  std::size_t start = 0;
  while (start < text.size() && isAsciiSpace(text[start])) {
    ++start;
  }
  const std::string_view rest = text.substr(start);
  std::string word;
  if (scanWord(std::string(rest), word) == ScanResult::kConverted && namesServer(word)) {
    settings.portAddress = word;
    return ScanResult::kConverted;
  }
  ScanResult result = ScanResult::kNoMatch;
  if (startsWithIgnoreCase(rest, "com")) {
    if (rest.size() > 3 && isAsciiDigit(rest[3])) {
      result = scanDecimal(rest.substr(3), settings.portNumber);
    }
  } else {
    result = scanDecimal(text, settings.portNumber);
  }
  if (result == ScanResult::kConverted) {
    settings.portAddress.clear();
  }
  return result;
}

// Scans `value` into the option's field: kNoMatch when the scan made no
// conversion. End of input leaves the field as it was.
ScanResult scanInto(Option option, const std::string& value, MoveSettings& settings) {
  ScanResult result = ScanResult::kConverted;
  switch (option) {
    case Option::kPort:
      result = scanPort(value, settings);
      break;
    case Option::kBaudRate:
      result = scanDecimal(value, settings.baudRate);
      break;
    case Option::kAddress:
      result = scanHex(value, settings.address);
      break;
    case Option::kDirection:
      result = scanWord(value, settings.directionWord);
      break;
    case Option::kProtocol: {
      std::string word;  // taken up once the value is accepted
      result = scanWord(value, word);
      break;
    }
    case Option::kSpeed:
      result = scanDecimal(value, settings.speedPercent);
      break;
    case Option::kDuration:
      result = scanFloat(value, settings.durationSeconds);
      break;
    case Option::kGoToPreset:
    case Option::kStorePreset:
    case Option::kClearPreset:
      result = scanDecimal(value, settings.presetNumber);
      break;
    case Option::kPan:
      result = scanFloat(value, settings.panDegrees);
      break;
    case Option::kTilt:
      result = scanFloat(value, settings.tiltDegrees);
      break;
    case Option::kWait:
      result = scanFloat(value, settings.waitSeconds);
      break;
    case Option::kHelp:
    case Option::kDisplay:
    case Option::kReportPosition:
    case Option::kStop:
    case Option::kExitStatus:
      break;
  }
  return result;
}

// Whether a scanned value is within what its option takes.
bool inRange(Option option, const MoveSettings& settings) {
  switch (option) {
    case Option::kSpeed:
      return static_cast<std::uint32_t>(settings.speedPercent) <= 100u;
    case Option::kGoToPreset:
    case Option::kStorePreset:
    case Option::kClearPreset:
      return settings.presetNumber >= 1 && settings.presetNumber <= 255;
    case Option::kPan:
      return settings.panDegrees >= 0.0f && settings.panDegrees < 360.0f;
    case Option::kTilt:
      return settings.tiltDegrees >= 0.0f && settings.tiltDegrees < 360.0f;
    default:
      return true;
  }
}

// Applies a -dir word that was accepted as a value. An unknown word clears
// directionGiven but keeps the motion and axes an earlier word set.
void applyDirection(MoveSettings& settings, std::ostream& out, const char* refusal) {
  const Direction* direction = findDirection(settings.directionWord);
  if (direction == nullptr) {
    settings.directionGiven = false;
    settings.somethingRefused = true;
    out << refusal;
    return;
  }
  settings.directionGiven = true;
  settings.motion = direction->motion;
  if (direction->setsAxes) {
    settings.panMove = direction->panMove;
    settings.tiltMove = direction->tiltMove;
  }
}

// Applies a -proto word that was accepted as a value. An unknown word is
// refused as an unknown -dir word is: the protocol stays as it was.
void applyProtocol(const std::string& value, MoveSettings& settings, std::ostream& out,
                   const char* refusal) {
  std::string word;
  scanWord(value, word);
  if (const Protocol* protocol = findProtocol(word)) {
    settings.protocol = protocol;
    return;
  }
  settings.somethingRefused = true;
  out << refusal;
}

// Reads the value of a value-taking option; returns whether it was accepted.
bool readValue(const OptionRow& row, const std::string* value, MoveSettings& settings,
               std::ostream& out) {
  bool accepted = value != nullptr &&
                  scanInto(row.option, *value, settings) != ScanResult::kNoMatch &&
                  (value->empty() || (*value)[0] != '-');
  accepted = accepted && inRange(row.option, settings);
  if (!accepted) {
    out << row.refusal;
    settings.somethingRefused = true;
    return false;
  }
  switch (row.option) {
    case Option::kPort:
      settings.portGiven = true;
      break;
    case Option::kBaudRate:
      settings.speedGiven = true;
      break;
    case Option::kDuration:
      settings.durationGiven = true;
      break;
    case Option::kDirection:
      settings.action = Action::kMove;
      applyDirection(settings, out, row.refusal);
      break;
    case Option::kProtocol:
      applyProtocol(*value, settings, out, row.refusal);
      break;
    case Option::kGoToPreset:
      settings.action = Action::kGoToPreset;
      break;
    case Option::kStorePreset:
      settings.action = Action::kStorePreset;
      break;
    case Option::kClearPreset:
      settings.action = Action::kClearPreset;
      break;
    case Option::kPan:
      settings.action = Action::kGoToPosition;
      settings.panGiven = true;
      break;
    case Option::kTilt:
      settings.action = Action::kGoToPosition;
      settings.tiltGiven = true;
      break;
    case Option::kWait:
      settings.waitGiven = true;
      break;
    default:
      break;
  }
  return true;
}

// Whether any of `args` from `first` on is the option -e: a script that
// asks for an exit status gets one even when the walk stops before it.
bool exitStatusAskedFrom(const std::vector<std::string>& args, std::size_t first) {
  std::string word;
  for (std::size_t i = first; i < args.size(); ++i) {
    if (scanWord(args[i], word) == ScanResult::kConverted && equalsIgnoreCase(word, "-e")) {
      return true;
    }
  }
  return false;
}

// Applies an option that takes no value.
void applyFlag(Option option, MoveSettings& settings) {
  switch (option) {
    case Option::kHelp:
      settings.helpWanted = true;
      break;
    case Option::kDisplay:
      settings.displayWanted = true;
      break;
    case Option::kExitStatus:
      settings.exitStatusWanted = true;
      break;
    case Option::kReportPosition:
    case Option::kStop:
      // An action, which counts as an accepted value: it alone makes a run.
      settings.action = option == Option::kStop ? Action::kStop : Action::kReportPosition;
      settings.lastValueOk = true;
      break;
    default:
      break;
  }
}

}  // namespace

bool parseCommandLine(const std::vector<std::string>& args, MoveSettings& settings,
                      std::ostream& out) {
  std::string word;  // a blank argument leaves the previous word in place
  for (std::size_t i = 1; i < args.size(); ++i) {
    scanWord(args[i], word);
    const OptionRow* row = findOption(word);
    if (row == nullptr) {
      out << "Parametro \"" << word << "\" errato. Utilizza -h per visualizzare l'help\n\n";
      settings.somethingRefused = true;
      settings.exitStatusWanted = settings.exitStatusWanted || exitStatusAskedFrom(args, i + 1);
      return false;
    }
    if (row->refusal == nullptr) {
      applyFlag(row->option, settings);
      continue;
    }
    const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
    settings.lastValueOk = readValue(*row, value, settings, out);
    if (settings.lastValueOk) {
      ++i;  // the value is consumed; a refused one is read as the next word
    }
  }
  return true;
}

}  // namespace ptmove

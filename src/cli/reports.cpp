#include "reports.h"

#include <charconv>
#include <cmath>
#include <iomanip>

#include "directions.h"
#include "version.h"

namespace ptmove {

std::string formatDefaultFloat(double value) {
  if (std::isnan(value)) {
    return std::signbit(value) ? "-nan" : "nan";
  }
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  return std::string(buffer, result.ptr);
}

std::string formatDefaultFloat(float value) {
  // The sign of a NaN is taken from the float itself: widening one may
  // lose it (MIPS turns it into the default NaN).
  if (std::isnan(value)) {
    return std::signbit(value) ? "-nan" : "nan";
  }
  return formatDefaultFloat(static_cast<double>(value));
}

void printBanner(std::ostream& out, const std::string& programWord) {
  out << "Programma per manovrare un brandeggio" << std::endl;
  out << "Versione " << formatDefaultFloat(kVersion) << std::endl;
  out << std::endl;
  out << "Nessun parametro passato." << std::endl;
  out << "Per avere la lista delle opzioni digita:" << std::endl;
  out << "\t" << programWord << " -h " << std::endl;
}

void printHelp(std::ostream& out, const std::string& programWord) {
  // Fixed text, typos and trailing space included, that users and scripts
  // know; one literal per printed line.
  static constexpr const char* kOptionLines[] = {
      "  -com s Selezione la porta seriale. Il parametro s indica il nome della",
      "\t porta come ad esempio COM1.",
      "  -br n  Seleziona la velocita' della porta seriale. Questo e' un parametro",
      "\t opzionale. Per default n e' pari a 2400.",
      "  -ch x  Imposta l'indirizzo esadecimale della scheda. Questo e' un parametro",
      "\t opzionale. Per default dell'indirizzo e' impostato 0x01.",
      "  -dir s Selezione della direzione di movimento tramite il parametro s che",
      "\t puo' essere r (per destra), l (per sinistra), u (per alto),",
      "\t d (per basso),a (per auto)",
      "  -vel n Seleziona la velocita' del brandeggio, da un minimo di 0 a un massimo",
      "\t di 100. Questo e' un parametro opzionale e per default e' ",
      "\t impostato a 100.",
      "  -t n   Imposta il tempo di movimento in secondi del brandeggio",
      "  -d     Visualizza tutti i parametri impostati e la stringa inviata",
  };
  out << "Programma per il controllo di un brandeggio." << std::endl;
  out << std::endl;
  out << programWord << " -com s [-br n] [-ch x] -dir s [-vel n] -t n [-d]" << std::endl;
  out << std::endl;
  for (const char* line : kOptionLines) {
    out << line << std::endl;
  }
  out << std::endl;
}

namespace {

// What an action other than the movement does, for the display: "vai al
// preset 3". Numbers as text: the stream is in hexadecimal by now.
std::string actionText(const MoveSettings& settings) {
  const std::string preset = std::to_string(settings.presetNumber);
  switch (settings.action) {
    case Action::kGoToPreset:
      return "vai al preset " + preset;
    case Action::kStorePreset:
      return "memorizza il preset " + preset;
    case Action::kClearPreset:
      return "cancella il preset " + preset;
    case Action::kGoToPosition: {
      std::string text = "vai alla posizione";
      if (settings.panGiven) {
        text += " pan " + degreesText(hundredths(settings.panDegrees)) + " gradi";
      }
      if (settings.tiltGiven) {
        text += std::string(settings.panGiven ? "," : "") + " tilt " +
                degreesText(hundredths(settings.tiltDegrees)) + " gradi";
      }
      return text;
    }
    case Action::kReportPosition:
      return "leggi la posizione";
    case Action::kStop:
      return "arresto";
    case Action::kMove:
      break;
  }
  return "";
}

void printFrame(std::ostream& out, const CommandFrame& frame) {
  for (std::uint8_t byte : frame) {
    out << " 0x" << std::setw(2) << static_cast<unsigned>(byte);
  }
}

// Each frame on a line of its own, the last line left open.
void printFrameLines(std::ostream& out, const std::vector<CommandFrame>& frames) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (i > 0) {
      out << std::endl;
    }
    printFrame(out, frames[i]);
  }
}

// The display of an action other than the movement: what it is, how long
// it waits for the head, and each frame it sends; no direction or time
// that plays no part in it.
void printAction(std::ostream& out, const MoveSettings& settings,
                 const std::vector<CommandFrame>& frames) {
  out << "Azione: " << actionText(settings) << std::endl;
  if (settings.waitsForArrival()) {
    out << "Attesa dell'arrivo fino a " << formatDefaultFloat(settings.waitSeconds) << " sec."
        << std::endl;
  }
  out << (frames.size() > 1 ? "Comandi inviati: " : "Comando inviato: ") << std::endl;
  printFrameLines(out, frames);
  if (settings.waitsForArrival()) {
    out << std::endl << "Richieste della posizione, ripetute fino all'arrivo: " << std::endl;
    const Protocol& protocol = *settings.protocol;
    printFrameLines(out, {protocol.frame(settings.receiver(), HeadCommand::askAngle(Axis::kPan)),
                          protocol.frame(settings.receiver(), HeadCommand::askAngle(Axis::kTilt))});
  }
}

}  // namespace

void printSettings(std::ostream& out, const MoveSettings& settings,
                   const std::vector<CommandFrame>& frames) {
  if (settings.portAddress.empty()) {
    out << "Porta selezionata COM" << settings.portNumber << std::endl;
  } else {
    out << "Porta selezionata " << settings.portAddress << std::endl;
  }
  out << "Baud rate " << settings.baudRate << std::endl;
  // Hexadecimal with fill '0' stays in force on the stream from here on.
  out << "Indirizzo 0x" << std::hex << std::setfill('0') << std::setw(2) << settings.address
      << std::endl;
  if (settings.action != Action::kMove) {
    printAction(out, settings, frames);
    return;
  }
  out << "Direzione di movimento: ";
  if (const Direction* direction = findDirection(settings.directionWord)) {
    out << direction->displayText << std::endl;
    if (direction->word == "a") {
      out << std::endl;  // "auto" is followed by an empty line
    }
  }
  out << "Tempo esecuzione comando " << formatDefaultFloat(settings.durationSeconds) << " sec."
      << std::endl;
  out << "Comando inviato: " << std::endl;
  for (const CommandFrame& frame : frames) {
    printFrame(out, frame);
  }
}

}  // namespace ptmove

#include "protocol.h"

#include "ascii.h"

namespace ptmove {

// Each protocol is defined in a file of its own.
const Protocol& pelcoD();
const Protocol& pelcoP();

namespace {

// The protocols there are, by their -proto word; the first is the default.
struct ProtocolEntry {
  std::string_view word;
  const Protocol& (*get)();
};
constexpr ProtocolEntry kProtocols[] = {
    {"d", pelcoD},
    {"p", pelcoP},
};

// The words for each function, in the order a receiver's description
// lists them; the movements of an axis carry its speed.
struct FunctionWords {
  Function function;
  const char* words;
};
constexpr FunctionWords kFunctionWords[] = {
    {kAutoScan, "auto scan"},   {kManualScan, "manual scan"},    {kCameraOn, "camera on"},
    {kCameraOff, "camera off"}, {kCameraOnOff, "camera on/off"}, {kIrisClose, "iris close"},
    {kIrisOpen, "iris open"},   {kFocusNear, "focus near"},      {kFocusFar, "focus far"},
    {kZoomWide, "zoom wide"},   {kZoomTele, "zoom tele"},        {kTiltDown, "tilt down"},
    {kTiltUp, "tilt up"},       {kPanLeft, "pan left"},          {kPanRight, "pan right"},
};

constexpr std::uint16_t kMotions = kPanRight | kPanLeft | kTiltUp | kTiltDown | kZoomTele |
                                   kZoomWide | kFocusFar | kFocusNear | kIrisOpen | kIrisClose;

std::string describeCommand(const HeadCommand& command) {
  const std::string preset = std::to_string(command.presetNumber);
  const std::string axis = command.axis == Axis::kPan ? "pan" : "tilt";
  const std::string degrees = degreesText(command.hundredths) + " degrees";
  switch (command.kind) {
    case HeadCommand::Kind::kPreset:
      switch (command.preset) {
        case PresetAction::kStore:
          return "store preset " + preset;
        case PresetAction::kClear:
          return "clear preset " + preset;
        case PresetAction::kGoTo:
          return "go to preset " + preset;
      }
      break;
    case HeadCommand::Kind::kGoToAngle:
      return "go to " + axis + " " + degrees;
    case HeadCommand::Kind::kAskAngle:
      return "where is " + axis + "?";
    case HeadCommand::Kind::kAngleIs:
      return axis + " is at " + degrees;
    case HeadCommand::Kind::kMove:
    case HeadCommand::Kind::kStop:
      break;
  }
  return "";
}

}  // namespace

bool isStop(const Received& received) {
  return !received.extended && received.payload[0] == 0 && received.payload[1] == 0;
}

bool isMotion(const Received& received) {
  return !received.extended && (received.functions & kMotions) != 0;
}

std::string describe(const Received& received) {
  const auto& p = received.payload;
  if (isStop(received)) {
    return "stop";
  }
  if (received.extended) {
    if (received.command) {
      return describeCommand(*received.command);
    }
    return "extended command " + hexByte(p[0]) + " " + hexByte(p[1]) + ", data " + hexByte(p[2]) +
           " " + hexByte(p[3]);
  }
  std::string text;
  for (const FunctionWords& entry : kFunctionWords) {
    if ((received.functions & entry.function) == 0) {
      continue;
    }
    text += (text.empty() ? "" : ", ") + std::string(entry.words);
    if (entry.function & (kPanRight | kPanLeft)) {
      text += ", speed " + std::to_string(received.panSpeed);
    } else if (entry.function & (kTiltUp | kTiltDown)) {
      text += ", speed " + std::to_string(received.tiltSpeed);
    }
  }
  if (text.empty()) {
    return "command " + hexByte(p[0]) + " " + hexByte(p[1]) + ", no action";
  }
  return text;
}

const Protocol* findProtocol(std::string_view word) {
  for (const ProtocolEntry& entry : kProtocols) {
    if (equalsIgnoreCase(word, entry.word)) {
      return &entry.get();
    }
  }
  return nullptr;
}

const Protocol& defaultProtocol() {
  return kProtocols[0].get();
}

std::vector<const Protocol*> allProtocols() {
  std::vector<const Protocol*> protocols;
  for (const ProtocolEntry& entry : kProtocols) {
    protocols.push_back(&entry.get());
  }
  return protocols;
}

}  // namespace ptmove

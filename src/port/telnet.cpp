#include "telnet.h"

namespace ptmove {

using namespace telnet;

namespace {

bool agreedTo(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

void say(ByteList& out, std::uint8_t verb, std::uint8_t option) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

}  // namespace

void escapeTelnet(const std::uint8_t* data, std::size_t size, ByteList& out) {
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) {
      out.push_back(kIac);
    }
  }
}

ByteList comPortCommand(std::uint8_t command, const ByteList& value) {
  ByteList out = {kIac, kSb, kComPort, command};
  escapeTelnet(value.data(), value.size(), out);
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

ByteList TelnetReader::opening() {
  // Said once: the server's agreement needs no answer.
  weWill_[kComPort] = weWill_[kBinary] = theyWill_[kBinary] = true;
  ByteList out;
  say(out, kWill, kComPort);
  say(out, kWill, kBinary);
  say(out, kDo, kBinary);
  return out;
}

void TelnetReader::take(const std::uint8_t* bytes, std::size_t size, ByteList& data,
                        ByteList& answer) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = bytes[i];
    switch (state_) {
      case State::kData:
        if (byte == kIac) {
          state_ = State::kCommand;
        } else {
          data.push_back(byte);
        }
        break;
      case State::kCommand:
        if (byte == kIac) {
          data.push_back(kIac);  // a doubled IAC is a data byte
          state_ = State::kData;
        } else if (byte >= kWill && byte <= kDont) {
          verb_ = byte;
          state_ = State::kOption;
        } else if (byte == kSb) {
          sub_.clear();
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // NOP, GA and the like: nothing to do
        }
        break;
      case State::kOption:
        negotiate(verb_, byte, answer);
        state_ = State::kData;
        break;
      case State::kSub:
        if (byte == kIac) {
          state_ = State::kSubIac;
        } else {
          sub_.push_back(byte);
        }
        break;
      case State::kSubIac:
        if (byte == kSe) {
          endSub();
          state_ = State::kData;
        } else {
          sub_.push_back(byte);  // IAC IAC inside: one FF of the value
          state_ = State::kSub;
        }
        break;
    }
  }
}

void TelnetReader::negotiate(std::uint8_t verb, std::uint8_t option, ByteList& answer) {
  if (option == kComPort && (verb == kDo || verb == kDont)) {
    comPortAgreed_ = verb == kDo;
  }
  switch (verb) {
    case kDo:
      if (agreedTo(option)) {
        if (!weWill_[option]) {
          weWill_[option] = true;
          say(answer, kWill, option);
        }
      } else if (!refused_[option]) {
        refused_[option] = true;
        say(answer, kWont, option);
      }
      break;
    case kDont:
      if (weWill_[option]) {
        weWill_[option] = false;
        say(answer, kWont, option);
      }
      break;
    case kWill:
      if (option == kBinary || option == kSuppressGoAhead) {
        if (!theyWill_[option]) {
          theyWill_[option] = true;
          say(answer, kDo, option);
        }
      } else if (!refused_[option]) {
        refused_[option] = true;
        say(answer, kDont, option);
      }
      break;
    case kWont:
      if (theyWill_[option]) {
        theyWill_[option] = false;
        say(answer, kDont, option);
      }
      break;
    default:
      break;
  }
}

void TelnetReader::endSub() {
  if (sub_.size() >= 2 && sub_[0] == kComPort && sub_[1] > kReplyOffset) {
    replies_.push_back({static_cast<std::uint8_t>(sub_[1] - kReplyOffset),
                        ByteList(sub_.begin() + 2, sub_.end())});
  }
}

std::vector<ComPortReply> TelnetReader::takeReplies() {
  std::vector<ComPortReply> replies;
  replies.swap(replies_);
  return replies;
}

}  // namespace ptmove

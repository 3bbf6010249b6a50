#include "tests/support/alsa_test_config.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace lumaro::testing {
namespace {

constexpr const char* kVariable = "ALSA_CONFIG_PATH";

// A quoted string of ALSA's configuration syntax.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string AlsaTestConfig::Text(const std::vector<AlsaTestDevice>& devices,
                                 std::string_view library) {
  std::ostringstream text;
  text << "# Written by the tests: the ALSA test device alone.\n"
       << "pcm_type.lumarotest {\n\tlib " << Quoted(library) << "\n}\n";
  for (const AlsaTestDevice& d : devices) {
    text << "pcm." << Quoted(d.name) << " {\n\ttype lumarotest\n\tformats [";
    for (const std::string& format : d.formats) text << ' ' << Quoted(format);
    text << " ]\n\trates [";
    for (const unsigned rate : d.rates) text << ' ' << rate;
    text << " ]\n\tspeed " << d.speed << '\n';
    if (!d.record.empty()) text << "\trecord " << Quoted(platform::Utf16ToUtf8(d.record)) << '\n';
    text << "\tbusy " << (d.busy ? "true" : "false") << '\n';
    const auto field = [&](const char* name, const auto& value) {
      if (value) text << '\t' << name << ' ' << *value << '\n';
    };
    field("stall_after", d.stallAfter);
    field("underrun_after", d.underrunAfter);
    field("period_bytes_min", d.periodBytesMin);
    field("period_bytes_max", d.periodBytesMax);
    field("buffer_bytes_min", d.bufferBytesMin);
    field("buffer_bytes_max", d.bufferBytesMax);
    field("periods_min", d.periodsMin);
    field("periods_max", d.periodsMax);
    text << "\thint {\n\t\tshow on\n\t\tdescription " << Quoted(d.description) << "\n\t}\n}\n";
  }
  // The converter by name, as ALSA's own configuration defines it.
  text << "pcm.plug {\n\t@args [ SLAVE ]\n\t@args.SLAVE {\n\t\ttype string\n\t}\n"
       << "\ttype plug\n\tslave.pcm $SLAVE\n}\n";
  return text.str();
}

AlsaTestConfig::AlsaTestConfig(std::u16string_view dir, std::vector<AlsaTestDevice> devices)
    : path_(platform::Utf16ToUtf8(dir) + "/asound.conf") {
  // ALSA splits the variable at colons and spaces.
  EXPECT_EQ(path_.find_first_of(": "), std::string::npos) << path_;
  std::ofstream(path_) << Text(devices, LUMARO_ALSA_TEST_DEVICE);
  if (const char* previous = std::getenv(kVariable)) previous_ = previous;
  ::setenv(kVariable, path_.c_str(), 1);
  snd_config_update_free_global();
  const int err = snd_config_update();
  EXPECT_GE(err, 0) << "ALSA cannot read " << path_ << ": " << snd_strerror(err);
}

AlsaTestConfig::~AlsaTestConfig() {
  if (previous_) {
    ::setenv(kVariable, previous_->c_str(), 1);
  } else {
    ::unsetenv(kVariable);
  }
  snd_config_update_free_global();
}

Bytes ReadAlsaRecord(std::u16string_view record) { return ReadFileBytes(record).value_or(Bytes{}); }

AlsaTestLog ReadAlsaTestLog(std::u16string_view record) {
  AlsaTestLog log;
  std::ifstream in(platform::Utf16ToUtf8(record) + ".log");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string word, value;
    fields >> word >> value;
    const std::uint64_t number = std::strtoull(value.c_str(), nullptr, 10);
    if (word == "busy") {
      ++log.busy;
      continue;
    }
    if (word == "open") {
      log.sessions.emplace_back().openNs = number;
      continue;
    }
    if (log.sessions.empty()) {
      log.unknown.push_back(line);
      continue;
    }
    AlsaTestSession& s = log.sessions.back();
    if (word == "format") {
      s.format = value;
    } else if (word == "rate") {
      s.rate = static_cast<unsigned>(number);
    } else if (word == "period") {
      s.period = number;
    } else if (word == "buffer") {
      s.buffer = number;
    } else if (word == "start") {
      s.startNs.push_back(number);
    } else if (word == "first") {
      s.firstNs.push_back(number);
    } else if (word == "stop") {
      s.stopNs.push_back(number);
    } else if (word == "xrun") {
      s.xruns.push_back(number);
    } else if (word == "short") {
      s.shorts.push_back(number);
    } else if (word == "stall") {
      s.stall = number;
    } else if (word == "frames") {
      s.frames = number;
    } else if (word == "underruns") {
      s.underruns = static_cast<unsigned>(number);
    } else if (word == "close") {
      s.closeNs = number;
    } else {
      log.unknown.push_back(line);
    }
  }
  return log;
}

}  // namespace lumaro::testing

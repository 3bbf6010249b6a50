// The census of the status line: every status and error text the program can show, each with the
// test that makes the program show it (by an injected failure, a refused file, a stop), checked
// against what the tests recorded (tests/support/census.h) after the whole suite ran. A text no
// test reaches fails the census, as does a text of the program missing from the table. A text
// this system cannot show carries the reason instead of a test. In the sanitizer build every one
// of those tests also ran with the leak check on.
//
//   lumaro_census CENSUS_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "resources/status_texts.h"

namespace {

namespace res = lumaro::resources;

struct Entry {
  std::u16string_view text;
  std::string_view test;    // "Suite.Test" that shows it
  std::string_view reason;  // why no test can show it on this system
};

const Entry kCensus[] = {
    {res::kStatusPlaylistReading, "StepMachineTest.AStopDuringAnyStepLeavesNoError"},
    {res::kStatusRegistering, "LumaroTest.UsageErrorsEndWithStatusTwo"},
    {res::kStatusPreparing, "LumaroTest.UsageErrorsEndWithStatusTwo"},
    {res::kStatusComInitializing, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kErrOutOfMemory, "StepMachineTest.AStopDuringAnyStepLeavesNoError"},
    {res::kErrPlaylistReadFailed, "StepMachineTest.AFailureKeepsItsTextAndShowsItsPath"},
    {res::kErrNoDropFiles, "StepMachineTest.RefusalsOfTheRegistrationInTheirOrder"},
    {res::kErrNoAvailableDevices, "StepMachineTest.RefusalsOfTheRegistrationInTheirOrder"},
    {res::kErrDeviceMayNotBeAvailable, "StepMachineTest.RefusalsOfTheRegistrationInTheirOrder"},
    {res::kErrGetFileTitle, "StepMachineTest.RefusalsOfTheRegistrationInTheirOrder"},
    {res::kErrNotSameFormat, "GaplessTest.TracksOfAnotherFormatStopBeforeAnythingPlays"},
    {res::kErrCoInitializeFailed, "",
     "POSIX has no component apartment: InitializeApartment cannot fail here (the Windows tests "
     "reach it under Wine)"},
    {res::kErrCreateEventFailed, "",
     "the POSIX event is a mutex and a condition: it fails only when the heap does"},
    {res::kStatusSettingPriority, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kErrPriorityFailed, "",
     "priority is asked for where the system allows it; playback never fails for want of it on "
     "POSIX"},
    {res::kStatusVolumeAssistStarting, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusWritingCache, "PlaybackTest.PreparationFailuresShowTheirTextsOnlyWithoutAStop"},
    {res::kErrCacheWriteFailed, "PlaybackTest.PreparationFailuresShowTheirTextsOnlyWithoutAStop"},
    {res::kErrWaitFailed, "InterruptionTest.ADeviceFailingAfterStartIsStoppedAndReleased"},
    {res::kErrReadFailed, "StepMachineTest.AFailureKeepsItsTextAndShowsItsPath"},
    {res::kStatusReadingWinfmp, "DecodeTrackTest.ShowsEveryAttemptAndFailsWithItsText"},
    {res::kStatusReadingPmdwin, "DecodeTrackTest.ShowsEveryAttemptAndFailsWithItsText"},
    {res::kStatusReadingFluidsynth, "DecodeTrackTest.ShowsEveryAttemptAndFailsWithItsText"},
    {res::kStatusReadingBuiltIn, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusReadingFfmpeg, "DecodeTrackTest.ShowsEveryAttemptAndFailsWithItsText"},
    {res::kStatusReadingMediaFoundation, "",
     "the Windows build's platform decoder (its tests run under Wine)"},
    {res::kStatusReadingLibsndfile, "DecodeTrackTest.ShowsEveryAttemptAndFailsWithItsText"},
    {res::kStatusConvertingToFloat, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kErrPathNotFound, "LumaroTest.UsageErrorsEndWithStatusTwo"},
    {res::kErrDirectoryPath, "DecodeTrackTest.ShowsEveryAttemptAndFailsWithItsText"},
    {res::kErrNonAnsiFilename, "DecodeTrackTest.FmMusicPathOutsideTheCodePageFailsBeforeAnyReader"},
    {res::kErrEmptyData, "",
     "only an outside reader that answers with no frames shows it: the built-in readers refuse an "
     "empty file themselves"},
    {res::kStatusCoCreateInstance, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusCreatingEndPoint, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusActivatingDevice, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusSelectingFormat, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusDeviceInitializing, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusStarting, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kErrCoCreateInstanceFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrEnumAudioEndpointsFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrGetCountFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrDeviceNotFound, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrActivateFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrIsFormatSupported, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrUnsupportedSampleRate, "EndpointTest.EachRateChoosesItsFormatOrFailsWithItsText"},
    {res::kErrUnsupportedAudioFormat, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrInitializeFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrGetBufferSizeFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrSetEventHandleFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrGetServiceFailed, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kErrGetBufferFailed, "StepMachineTest.AFailureUnwindsEveryStepInReverseOrder"},
    {res::kErrStartFailed, "StepMachineTest.AFailureKeepsItsTextAndShowsItsPath"},
    {res::kErrGetCurrentPadding, "EndpointTest.EveryDeviceErrorTextAndEverythingReleased"},
    {res::kStatusResampling, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kStatusConvertingTo1Bit, "InterruptionTest.AStopDuringEachPreparationStageEndsQuietly"},
    {res::kStatusConvertingToOutput, "PlaybackTest.EveryStatusOfAWholePlaybackInOrder"},
    {res::kErrNotEnoughData, "",
     "every stage refuses to make a record of no frames before the device record is made"},
    {res::kStatusPreparingDevice, "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrCoCreateInstance, "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrDeviceNotAvailable, "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrInitFailed, "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrFutureFailed, "DriverStepsTest.RateChoiceWithLadderFallThroughAndBufferSize"},
    {res::kErrInternalError, "DriverStepsTest.RateChoiceWithLadderFallThroughAndBufferSize"},
    {res::kErrDriverGetBufferSizeFailed,
     "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrCreateBuffersFailed, "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrGetChannelInfoFailed, "DriverStepsTest.EachFailureHasItsTextAndReleasesWhatWasMade"},
    {res::kErrUnsupportedFormat, "DriverStepsTest.SampleTypesGiveWidthsAndByteOrderOrAreRefused"},
    {res::kErrDriverStartFailed,
     "DriverPlaybackTest.AFloatDriverIsRefusedAndASilentDriverFailsAfterTwoSeconds"},
    {res::kStatusCompressing, "PlaybackTest.PreparationFailuresShowTheirTextsOnlyWithoutAStop"},
    {res::kStatusLoudnessNormalizing, "PlaybackTest.VolumeAssistRunsInItsOrder"},
    {res::kStatusPeakNormalizing, "PlaybackTest.VolumeAssistRunsInItsOrder"},
};

// The status and error texts the program defines: the u"…" of each "Text kStatus…" and
// "Text kErr…" definition, however it is wrapped.
std::set<std::string> DefinedTexts(const char* header) {
  std::ifstream file(header);
  std::stringstream text;
  text << file.rdbuf();
  const std::string source = text.str();
  constexpr std::string_view kDefinition = "constexpr Text k";
  std::set<std::string> texts;
  for (std::size_t at = source.find(kDefinition); at != std::string::npos;
       at = source.find(kDefinition, at + 1)) {
    const std::string_view name = std::string_view(source).substr(at + kDefinition.size());
    const std::size_t open = source.find("u\"", at);
    const std::size_t close = open == std::string::npos ? open : source.find('"', open + 2);
    if (close == std::string::npos) break;
    if (name.starts_with("Status") || name.starts_with("Err")) {
      texts.insert(source.substr(open + 2, close - open - 2));
    }
  }
  return texts;
}

// Text -> the tests that showed it, from every file the tests wrote.
std::map<std::string, std::set<std::string>> Recorded(const std::filesystem::path& directory) {
  std::map<std::string, std::set<std::string>> shown;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(directory, error)) {
    std::ifstream in(file.path());
    for (std::string line; std::getline(in, line);) {
      const std::size_t tab = line.find('\t');
      if (tab != std::string::npos) shown[line.substr(tab + 1)].insert(line.substr(0, tab));
    }
  }
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumaro_census CENSUS_DIR\n");
    return 2;
  }
  const auto shown = Recorded(argv[1]);
  std::set<std::string> defined = DefinedTexts(LUMARO_STATUS_TEXTS);
  int failures = 0;
  int exempt = 0;
  int reached = 0;
  for (const Entry& entry : kCensus) {
    const std::string text = lumaro::platform::Utf16ToUtf8(entry.text);
    defined.erase(text);
    if (entry.test.empty()) {
      ++exempt;
      continue;
    }
    const auto found = shown.find(text);
    if (found == shown.end() || found->second.count(std::string(entry.test)) == 0) {
      std::printf("census: \"%s\" was not shown by %s\n", text.c_str(),
                  std::string(entry.test).c_str());
      ++failures;
    } else {
      ++reached;
    }
  }
  for (const std::string& text : defined) {
    std::printf("census: \"%s\" is not in the census table\n", text.c_str());
    ++failures;
  }
  std::printf("census: %zu texts, %d shown by their tests, %d this system cannot show, %d failed\n",
              std::size(kCensus), reached, exempt, failures);
  return failures == 0 ? 0 : 1;
}

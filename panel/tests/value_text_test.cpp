// The names and texts under which the panel shows the driver's settings and latencies.
#include "Marlow1394oxClient.h"

#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <climits>

namespace juce {
void PrintTo(const String& s, std::ostream* os)
{
  *os << '"' << s.toStdString() << '"';
}
} // namespace juce

namespace {

OxStatus withIndices(uint32_t firewire, uint32_t asio)
{
  OxStatus s = {};
  s.streamState = OX_STREAM_STREAMING;
  s.firewireLatencyIndex = firewire;
  s.asioBufferIndex = asio;
  return s;
}

TEST(ValueTexts, TheLatencyOfEachPairOfSettings)
{
  const char* const table[6][3] = {
      {"1.0ms", "2.0ms", "3.0ms"},   {"2.0ms", "4.0ms", "6.0ms"},    {"4.0ms", "8.0ms", "12.0ms"},
      {"8.0ms", "16.0ms", "24.0ms"}, {"16.0ms", "32.0ms", "48.0ms"}, {"32.0ms", "64.0ms", "96.0ms"},
  };
  for (uint32_t f = 0; f < 6; f++) {
    for (uint32_t a = 0; a < 3; a++) {
      const OxStatus s = withIndices(f, a);
      // The table's latencies are whole milliseconds, exact as doubles.
      EXPECT_EQ(getLatencyMs(s), juce::String(table[f][a]).getDoubleValue()) << f << "," << a;
      EXPECT_EQ(getLatencyText(s), juce::String(table[f][a])) << f << "," << a;
    }
  }
}

TEST(ValueTexts, AnIndexOutOfRangeMakesTheLatencyUnknown)
{
  const struct {
    uint32_t firewire, asio;
  } cases[] = {{6, 0}, {0, 3}, {0xFFFFFFFF, 0}, {0, 0xFFFFFFFF}, {0x80000000u, 1}};
  for (const auto& c : cases) {
    const OxStatus s = withIndices(c.firewire, c.asio);
    EXPECT_EQ(getLatencyMs(s), -1.0) << c.firewire << "," << c.asio;
    EXPECT_EQ(getLatencyText(s), juce::String("unknown")) << c.firewire << "," << c.asio;
  }
}

TEST(ValueTexts, TheDriversOwnLatencyComesFirst)
{
  const struct {
    uint32_t latencyUs, extraUs, firewire, asio;
    const char* text;
  } cases[] = {
      {5000, 333, 2, 0, "5.3ms"},
      {5000, 333, 6, 9, "5.3ms"}, // whatever the indices are
      {1, 0, 0, 0, "0.0ms"},
      {0, 333, 2, 0, "4.0ms"},           // the extra alone is not a reported latency
      {0xFFFFFFFF, 1001, 0, 0, "1.0ms"}, // the sum wraps as a u32
      {96000, 0, 0, 0, "96.0ms"},
  };
  for (const auto& c : cases) {
    OxStatus s = withIndices(c.firewire, c.asio);
    s.latencyUs = c.latencyUs;
    s.latencyExtraUs = c.extraUs;
    EXPECT_EQ(getLatencyText(s), juce::String(c.text)) << c.latencyUs << "+" << c.extraUs;
  }
}

TEST(ValueTexts, MillisecondsKeepOneDigitAndThePoint)
{
  const struct {
    double ms;
    const char* text;
  } cases[] = {{0, "0.0ms"}, {4, "4.0ms"}, {5.333, "5.3ms"}, {0.96, "1.0ms"}, {123.44, "123.4ms"}};
  for (const auto& c : cases) {
    EXPECT_EQ(formatMilliseconds(c.ms), juce::String(c.text)) << c.ms;
  }
}

TEST(ValueTexts, SampleRatesInKilohertzWithTheTenthsTruncated)
{
  const struct {
    uint32_t rate;
    const char* text;
  } cases[] = {
      {44100, "44.1 KHz"}, {48000, "48.0 KHz"},           {44999, "44.9 KHz"},
      {88200, "88.2 KHz"}, {192000, "192.0 KHz"},         {0, "0.0 KHz"},
      {999, "0.9 KHz"},    {0xFFFFFFFF, "4294967.2 KHz"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatSampleRate(c.rate), juce::String(c.text)) << c.rate;
  }
}

TEST(ValueTexts, SettingNamesByIndex)
{
  const struct {
    int32_t index;
    const char* firewire;
    const char* asio;
  } cases[] = {
      {0, "Minimum", "Standard"},      {1, "Small", "Large"},
      {2, "Standard", "Maximum"},      {3, "Large", "unknown"},
      {4, "ExtraLarge", "unknown"},    {5, "Maximum", "unknown"},
      {6, "unknown", "unknown"},       {-1, "unknown", "unknown"},
      {INT_MIN, "unknown", "unknown"}, {INT_MAX, "unknown", "unknown"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(getFirewireLatencyName(c.index), juce::String(c.firewire)) << c.index;
    EXPECT_EQ(getAsioBufferName(c.index), juce::String(c.asio)) << c.index;
  }
}

} // namespace

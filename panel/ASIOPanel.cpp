#include "ASIOPanel.h"

#include "MessageBoxes.h"
#include "OptionsDialogMixerPane.h"
#include "TrJuce.h"
#include "TrStringList.h"

namespace {

/** The argument as a device index, read as Tr::TString::parseInt reads it: blanks and control
    characters before the number are skipped, and the first of them after it ends the number
    (" 1" and "1 x" are 1). Its two readings that name no index are refused: a number without
    any digit (a lone "-", or blanks alone), which it takes as 0, and one past 2^31 - 1, which
    it wraps. */
bool parseDeviceIndex(const Tr::TString& word, int& index)
{
  int value = 0;
  if (!word.parseInt(0, value))
    return false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(word.text());
  while (*p != 0 && *p <= 0x20)
    ++p;
  if (*p == '-')
    ++p;
  long long magnitude = 0;
  int digits = 0;
  for (; *p > 0x20; ++p, ++digits) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > 2147483647LL)
      return false;
  }
  if (digits == 0)
    return false;
  index = value;
  return true;
}

} // namespace

ASIOPanel::ASIOPanel() = default;

ASIOPanel::~ASIOPanel()
{
  delete pane;
  pane = nullptr;
}

void ASIOPanel::initialise()
{
  BContentBase::initialise();
  pane = new OptionsDialogMixerPane();
  preferredWidth = pane->getPaneWidth() + 10;
  preferredHeight = pane->getPaneHeight() + 10;
  pane->setSize(pane->getPaneWidth(), pane->getPaneHeight());
  pane->setTopLeftPosition(5, 5);
  addAndMakeVisible(pane);
  pane->toFront(false);
}

void ASIOPanel::paint(juce::Graphics& g)
{
  BContentBase::paint(g);
  g.setOpacity(1.0f);
  g.setColour(juce::Colour(0x80FFFFFFu));
  g.drawRect(getLocalBounds(), 1);
}

bool ASIOPanel::parseCommandLine(const juce::String& commandLine)
{
  readCommandLine(commandLine);
  return true;
}

void ASIOPanel::anotherInstanceStarted(const juce::String& commandLine)
{
  const std::int32_t previous = deviceIndex;
  readCommandLine(commandLine);
  if (deviceIndex != previous && pane != nullptr)
    pane->setDeviceIndex(deviceIndex);
}

void ASIOPanel::start(bool)
{
  started = true;
  if (pane != nullptr)
    pane->setDeviceIndex(deviceIndex);
}

void ASIOPanel::stop()
{
  if (pane != nullptr)
    pane->setDeviceIndex(-1);
}

void ASIOPanel::comboBoxChanged(juce::ComboBox*)
{
}

void ASIOPanel::readCommandLine(const juce::String& commandLine)
{
  Tr::TStringList words;
  Tr::TString(commandLine).splitWords(words);
  const int count = static_cast<int>(words.items.size());
  int i = 0;
  while (i < count) {
    const Tr::TString& word = words.items[static_cast<size_t>(i)].text;
    if (Tr::compareIgnoreCase(word, "-device") != 0 &&
        Tr::compareIgnoreCase(word, "/device") != 0) {
      ++i;
      continue;
    }
    if (i + 1 >= count) {
      showErrorBox("Error: command line parameter " + Tr::toJuceString(word) +
                   " requires an argument with the numerical device index.");
      break;
    }
    const Tr::TString& argument = words.items[static_cast<size_t>(i + 1)].text;
    int value = 0;
    if (parseDeviceIndex(argument, value) && value >= 0)
      deviceIndex = value;
    else
      showErrorBox("Error: invalid argument '" + Tr::toJuceString(argument) + "' for parameter " +
                   Tr::toJuceString(word));
    i += 2;
  }
}

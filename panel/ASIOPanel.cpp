#include "ASIOPanel.h"

#include "MessageBoxes.h"
#include "OptionsDialogMixerPane.h"
#include "TrJuce.h"
#include "TrStringList.h"

namespace {

/** The argument as a device index: decimal digits alone, within int32. A lone "-", or a
    number past 2^31 - 1 (which the plain conversion would wrap), is no index. */
bool parseDeviceIndex(const Tr::TString& word, int& index)
{
  const char* p = word.text();
  if (*p == '-')
    ++p;
  if (*p == 0)
    return false;
  long long value = 0;
  for (; *p != 0; ++p) {
    if (*p < '0' || *p > '9')
      return false;
    value = value * 10 + (*p - '0');
    if (value > 2147483647LL)
      return false;
  }
  return word.parseInt(0, index);
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

#include "JUCEMarlowApplication.h"

#include "ASIOWindow.h"

JUCEMarlowApplication::JUCEMarlowApplication() = default;

JUCEMarlowApplication::~JUCEMarlowApplication() = default;

void JUCEMarlowApplication::initialise(const juce::String& commandLine)
{
  tooltipWindow = std::make_unique<juce::TooltipWindow>();
  const juce::String title("Halden ASIO");
  window = std::make_unique<ASIOWindow>(title);
  window->initialise(commandLine, false, false);
  // Also after a fatal error or an early stop: the hidden window is centred all the same.
  window->centreWithSize(window->getWidth(), window->getHeight());
}

void JUCEMarlowApplication::shutdown()
{
  window.reset();
  tooltipWindow.reset();
}

const juce::String JUCEMarlowApplication::getApplicationName()
{
  return "Halden ASIO";
}

const juce::String JUCEMarlowApplication::getApplicationVersion()
{
  return "1.0.0";
}

bool JUCEMarlowApplication::moreThanOneInstanceAllowed()
{
  return false;
}

void JUCEMarlowApplication::anotherInstanceStarted(const juce::String&)
{
}

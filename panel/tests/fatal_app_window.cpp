// The main window of a Fenwick whose content fails while it sets itself up: the real start-up,
// application object and window framework, with this window in place of the program's own.
// The alert boxes are written to the file named by the command line (and closed at once).
#include "ASIOWindow.h"
#include "TrException.h"
#include "frame_test_support.h"

namespace {

class FailingContent : public BContentBase {
public:
  FailingContent()
  {
    boxes.onBox = [this](const test::RecordedBox& box) {
      const bool visible =
          BWindow::getMainWindow() != nullptr && BWindow::getMainWindow()->isVisible();
      write("box\n" + box.title + "\n" + box.message + "\n" + box.button + "\n" +
            (visible ? "window visible\n" : "window hidden\n"));
    };
  }

  void initialise() override
  {
    BContentBase::initialise();
    throw Tr::Exception(Tr::TString("Picture \"HaldenExists.png\" is missing."));
  }
  void start(bool) override { write("start\n"); }
  void stop() override { write("stop\n"); }

private:
  void write(const juce::String& text)
  {
    const juce::File log(juce::JUCEApplication::getCommandLineParameters().unquoted());
    log.appendText(text, false, false, "\n");
  }

  test::RecordingLookAndFeel boxes;
};

} // namespace

ASIOWindow::ASIOWindow(const juce::String& title) : BWindow(title)
{
}

ASIOWindow::~ASIOWindow() = default;

std::unique_ptr<BContentBase> ASIOWindow::createContent()
{
  return std::make_unique<FailingContent>();
}

void ASIOWindow::parentHierarchyChanged()
{
  BWindow::parentHierarchyChanged();
}

#include "JUCEMarlowApplication.h"

START_JUCE_APPLICATION(JUCEMarlowApplication)

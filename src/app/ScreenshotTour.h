// A scripted walk through the program that saves pictures of its windows, for the
// documentation: tools/screenshots.sh runs it under a virtual display with the demo devices.
#pragma once

#include <QString>

class QWidget;

namespace corvane::app {

// The walks: "idle" (no device), "music" (chooser, music view, options, progress, error log),
// "photo" and "photo-iphone" (photo view, camera roll, photo options). Each ends the program
// when done. Returns false for an unknown walk.
bool StartScreenshotTour(QWidget* mainWindow, const QString& walk, const QString& outputDir);

}  // namespace corvane::app

#include "app/MainWindow.h"
#include "firmware/FirmwareImageClass.h"
#include "ui/ContentComp.h"

#include <QuilletResources.h>

namespace
{
    const juce::Colour windowBackground (0xffeff2f3);
}

MainWindow::MainWindow (juce::String commandLine)
    : juce::DocumentWindow ({}, windowBackground, juce::DocumentWindow::closeButton, true)
{
    JUCE_ASSERT_MESSAGE_THREAD

    contentComp = new ContentComp (this, std::move (commandLine));
    setResizable (true, false);
    setContentOwned (contentComp, false);
    setName (makeTitle (*contentComp->firmwareImage));
    setIcon (juce::ImageCache::getFromMemory (QuilletResources::icon256_png, QuilletResources::icon256_pngSize));
    setVisible (true);
}

MainWindow::~MainWindow() = default;

juce::String MainWindow::makeTitle (const FirmwareImageClass& image)
{
    auto title = image.getName() + " version " + image.getVersion();

    if (image.revision != 0)
        title << " - R" << image.revision;

    return title;
}

void MainWindow::closeButtonPressed()
{
    JUCE_ASSERT_MESSAGE_THREAD

    // The upload ends at its next message boundary, normally within one
    // message's interval; the quit goes on even if it has not by then.
    if (contentComp != nullptr && contentComp->protocol != nullptr)
        contentComp->stopUpload (closeWaitMs);

    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}

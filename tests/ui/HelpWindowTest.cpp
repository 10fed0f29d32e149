#include "ui/BrenloHelpWindowClass.h"
#include "ui/BrenloHelpWindowContentComp.h"
#include "ui/HelpText.h"
#include "ui/UpdaterLookAndFeel.h"
#include "Expected.h"
#include "MessageLoop.h"

#include <gtest/gtest.h>

class HelpWindowTest  : public testing::Test
{
protected:
    void SetUp() override
    {
        juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
        window = std::make_unique<BrenloHelpWindowClass>();
    }

    void TearDown() override
    {
        window.reset();
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    }

    juce::TextEditor* findEditor() const
    {
        if (auto* content = window->getContentComponent())
            for (auto* child : content->getChildren())
                if (auto* editor = dynamic_cast<juce::TextEditor*> (child))
                    return editor;

        return nullptr;
    }

    /** Shows the window as the panel's Help button does: centred, at its size. */
    void showAtItsSize()
    {
        const auto size = Expected::size ("helpWindow.size");
        window->centreWithSize (size.getWidth(), size.getHeight());
        window->setVisible (true);
    }

    template <typename ComponentType>
    int countChildrenOfType() const
    {
        int count = 0;

        for (auto* child : window->getChildren())
            if (dynamic_cast<ComponentType*> (child) != nullptr)
                ++count;

        return count;
    }

    UpdaterLookAndFeel lookAndFeel;
    std::unique_ptr<BrenloHelpWindowClass> window;
};

TEST_F (HelpWindowTest, IsBuiltHiddenOnTheDesktopWithItsOwnFrame)
{
    EXPECT_FALSE (window->isVisible());
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_EQ (window->getName(), Expected::text ("helpWindow.title"));
    EXPECT_EQ (window->getBackgroundColour().getARGB(), Expected::colour ("colours.windowBackground").getARGB());
    EXPECT_FALSE (window->isUsingNativeTitleBar());
    EXPECT_NE (window->getCloseButton(), nullptr);
    EXPECT_NE (window->getMinimiseButton(), nullptr);
    EXPECT_NE (window->getMaximiseButton(), nullptr);

    EXPECT_TRUE (window->isResizable());
    EXPECT_EQ (countChildrenOfType<juce::ResizableBorderComponent>(), 1);
    EXPECT_EQ (countChildrenOfType<juce::ResizableCornerComponent>(), 0);

    EXPECT_NE (dynamic_cast<BrenloHelpWindowContentComp*> (window->getContentComponent()), nullptr);
}

TEST_F (HelpWindowTest, TextViewIsReadOnlyAndWrapsTheHelpText)
{
    showAtItsSize();

    auto* editor = findEditor();
    ASSERT_NE (editor, nullptr);
    EXPECT_TRUE (editor->getName().isEmpty());
    EXPECT_EQ (editor->getPasswordCharacter(), 0);
    EXPECT_EQ (editor->getText(), helpText);
    EXPECT_TRUE (editor->isReadOnly());
    EXPECT_TRUE (editor->isMultiLine());
    EXPECT_TRUE (editor->isVisible());

    // The text view fills the content area, and the longest line (wider than
    // the window) is wrapped instead of scrolled.
    EXPECT_EQ (editor->getBounds(), window->getContentComponent()->getLocalBounds());
    EXPECT_GT (juce::Font (editor->getFont()).getStringWidth (helpText.fromFirstOccurrenceOf ("\n", false, false)
                                                                       .upToFirstOccurrenceOf ("\n", false, false)),
               editor->getWidth());
    EXPECT_LE (editor->getTextWidth(), editor->getWidth());

    const auto heightAtItsSize = editor->getTextHeight();
    window->setSize (300, window->getHeight());
    EXPECT_EQ (editor->getBounds(), window->getContentComponent()->getLocalBounds());
    EXPECT_LE (editor->getTextWidth(), editor->getWidth());
    EXPECT_GT (editor->getTextHeight(), heightAtItsSize);

    // Typing changes nothing.
    EXPECT_FALSE (editor->keyPressed (juce::KeyPress ('x', juce::ModifierKeys(), 'x')));
    EXPECT_FALSE (editor->keyPressed (juce::KeyPress (juce::KeyPress::returnKey)));
    EXPECT_EQ (editor->getText(), helpText);
}

TEST_F (HelpWindowTest, CloseButtonHidesWithoutDeleting)
{
    showAtItsSize();
    auto* content = window->getContentComponent();
    auto* editor = findEditor();

    window->getCloseButton()->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return ! window->isVisible(); }, 2000));
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_EQ (window->getContentComponent(), content);
    EXPECT_EQ (findEditor(), editor);

    // The system's close request takes the same path.
    window->setVisible (true);
    window->userTriedToCloseWindow();
    EXPECT_FALSE (window->isVisible());
    EXPECT_EQ (window->getContentComponent(), content);
}

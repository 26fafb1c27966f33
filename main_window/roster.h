#pragma once

#include <array>
#include <cstddef>

class CommandButton;
class FrameShape;
class LabelControl;
class MultiLineTextBox;
class QWidget;
class TextBox;
class WindowTimer;

// Every control of the window under its own name, created with its design-time caption or text,
// position, font and settings. These values are the program's only defaults: every run starts
// from them and nothing is saved.
struct Roster {
    static constexpr int kPorts = 16;
    static constexpr int kPresets = 9;
    // Characters a receive box lays out of the end of a longer chunk.
    static constexpr int kReceiveBoxShown = 1024;

    // Right column: hint, serial settings, the sixteen port rows, exit.
    LabelControl* Label10 = nullptr;
    LabelControl* Label8 = nullptr;
    TextBox* Text10 = nullptr;
    std::array<LabelControl*, kPorts> Label9{};
    std::array<TextBox*, kPorts> Text11{};
    CommandButton* Command3 = nullptr;

    // Presets.
    std::array<CommandButton*, kPresets> Command1{};
    std::array<TextBox*, kPresets> Text1{};

    // Sweep group.
    FrameShape* Shape1 = nullptr;
    CommandButton* Command4 = nullptr;
    LabelControl* Label5 = nullptr;
    TextBox* Text8 = nullptr;
    LabelControl* Label2 = nullptr;
    TextBox* Text5 = nullptr;
    LabelControl* Label3 = nullptr;
    TextBox* Text6 = nullptr;
    LabelControl* Label6 = nullptr;
    TextBox* Text2 = nullptr;
    TextBox* Text9 = nullptr;
    LabelControl* Label4 = nullptr;
    TextBox* Text7 = nullptr;
    LabelControl* Label1 = nullptr;
    TextBox* Text3 = nullptr;
    CommandButton* Command6 = nullptr;

    // Receive log group.
    FrameShape* Shape4 = nullptr;
    CommandButton* Command2 = nullptr;
    LabelControl* Label7 = nullptr;
    MultiLineTextBox* Text4 = nullptr;

    // Command reference.
    MultiLineTextBox* Text12 = nullptr;

    WindowTimer* Timer1 = nullptr; // sweep step
    WindowTimer* Timer2 = nullptr; // receive poll
    WindowTimer* Timer3 = nullptr; // opening pass

    // The client area, 13785 x 9660 twips.
    static constexpr double kClientWidth = 13785;
    static constexpr double kClientHeight = 9660;

    void createControls(QWidget* form);

    // The same controls by role: the names everything outside the window uses (tests,
    // benchmarks, the soak). Each role is given its control here and nowhere else.
    LabelControl* hintLabel() const { return Label10; }
    LabelControl* settingsCaption() const { return Label8; }
    TextBox* settingsBox() const { return Text10; }
    LabelControl* statusLabel(int index) const { return Label9[std::size_t(index)]; }
    const std::array<LabelControl*, kPorts>& statusLabels() const { return Label9; }
    TextBox* receiveBox(int index) const { return Text11[std::size_t(index)]; }
    const std::array<TextBox*, kPorts>& receiveBoxes() const { return Text11; }
    CommandButton* exitButton() const { return Command3; }
    CommandButton* presetButton(int index) const { return Command1[std::size_t(index)]; }
    const std::array<CommandButton*, kPresets>& presetButtons() const { return Command1; }
    TextBox* presetBox(int index) const { return Text1[std::size_t(index)]; }
    const std::array<TextBox*, kPresets>& presetBoxes() const { return Text1; }
    FrameShape* sweepFrame() const { return Shape1; }
    CommandButton* sweepButton() const { return Command4; }
    LabelControl* sweepIntervalCaption() const { return Label5; }
    TextBox* sweepIntervalBox() const { return Text8; }
    LabelControl* totalChannelsCaption() const { return Label2; }
    TextBox* totalChannelsBox() const { return Text5; }
    LabelControl* startChannelCaption() const { return Label3; }
    TextBox* startChannelBox() const { return Text6; }
    LabelControl* currentChannelCaption() const { return Label6; }
    TextBox* prefixBox() const { return Text2; }
    TextBox* currentChannelBox() const { return Text9; }
    LabelControl* endChannelCaption() const { return Label4; }
    TextBox* endChannelBox() const { return Text7; }
    LabelControl* endCommandCaption() const { return Label1; }
    TextBox* endCommandBox() const { return Text3; }
    CommandButton* fastSweepButton() const { return Command6; }
    FrameShape* logFrame() const { return Shape4; }
    CommandButton* clearLogButton() const { return Command2; }
    LabelControl* logLengthLabel() const { return Label7; }
    MultiLineTextBox* receiveLog() const { return Text4; }
    MultiLineTextBox* referenceBox() const { return Text12; }
    WindowTimer* sweepTimer() const { return Timer1; }
    WindowTimer* receivePollTimer() const { return Timer2; }
    WindowTimer* openingPassTimer() const { return Timer3; }

private:
    void nameForAccessibility();
};

#pragma once

#include <array>

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

private:
    void nameForAccessibility();
};

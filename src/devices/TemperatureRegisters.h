#pragma once
// The temperature module's data as its panel and register dialogs share it:
// the decoded inputs of the last good poll and the image of its holding
// registers, which the dialogs and sliders edit and "Write To Output
// Registers" sends.

#include "Reply.h"

#include <QString>
#include <array>
#include <cstdint>

namespace qim {

constexpr int TempInputCount = 12;  // input registers 0..11, read in one request
constexpr int TempOutputCount = 29; // image indices 0..28 = holding register address
constexpr int TempConfigAddress = 5;
constexpr int TempControlAddress = 6;
constexpr int TempLoopsStart = 7;     // first register of loop 1's block
constexpr int TempLoopRegisters = 20; // four blocks of five
constexpr int TempLoops = 4;

// First image index of loop n's block (7, 12, 17, 22).
constexpr int LoopBase(int n) {
    return TempLoopsStart + 5 * (n - 1);
}

// Raw register -> degrees: 12-bit two's complement for a process value and
// 8-bit for a cold junction, by subtraction only (a value above the field is
// not masked: 5000 reads as 904).
constexpr int32_t ProcessValueOf(uint16_t raw) {
    return raw >= 2048 ? int32_t(raw) - 4096 : int32_t(raw);
}
constexpr int32_t ColdJunctionOf(uint16_t raw) {
    return raw >= 128 ? int32_t(raw) - 256 : int32_t(raw);
}

// Everything starts at zero. The main window keeps one for the run, so what
// the user set survives closing and reopening the panel.
struct TemperatureRegisters {
    // Decoded values of the last successful poll, index = input register address.
    std::array<int32_t, TempInputCount> inputs{};
    // Holding register image, index = register address: 1..4 the PWM outputs,
    // 7..26 the four loop blocks; 0, 5, 6, 27 and 28 are not used here.
    std::array<int32_t, TempOutputCount> outputs{};
    int32_t config = 0;
    int32_t control = 0;
    // The loop whose block the control loop dialog is asked to edit (1..4).
    uint8_t selectedLoop = 0;

    // Decodes a good read of input registers 0..11 into inputs. Returns
    // false, storing nothing, when the reply does not hold all twelve.
    bool decodeInputs(const Reply& reply);
};

// The configuration register's fields (list positions and alarm enables).
struct TempConfigFields {
    int average = 0;            // bits 0..3 (0..3)
    int type = 0;               // bits 4..7 (0..6)
    int sampling = 0;           // bits 8..11 (0..15)
    std::array<int, 4> alarm{}; // bits 12..15
};
int32_t PackConfig(const TempConfigFields& f);
TempConfigFields UnpackConfig(int32_t value);

// Loop modes 1..4 (0 manual, 1 on/off, 2 proportional), four bits apart.
using TempLoopModes = std::array<int16_t, TempLoops>;
int32_t PackControl(const TempLoopModes& modes);
TempLoopModes UnpackControl(int32_t value);

// "0x" and the value in capital hexadecimal without leading zeros.
QString RegisterHexText(int32_t value);

} // namespace qim

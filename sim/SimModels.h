#pragma once
// The behaviour of each QIM model on the simulated bus. Nothing here runs
// by itself: a model works out its state from the bus's simulated clock when
// it is asked, so an idle simulator costs no CPU.

#include "SimBus.h"

#include <array>

namespace qimsim {

// QIM-K520 (8 discrete outputs) and QIM-K530 (8 relay outputs): holding
// register 0; a write sets the outputs, a read returns the inputs. The test
// harness wires output k to input k; inputs 6, 7 and 8 also carry a light
// that walks from one to the next once a simulated second.
class DiscreteModule : public Module {
public:
    DiscreteModule(uint8_t address, uint8_t deviceCode);
    std::optional<uint16_t> holding(int address) const override;
    bool supports(uint8_t function) const override;

    uint8_t outputs() const { return static_cast<uint8_t>(m_register & 0xFF); }
    uint8_t inputs() const;
    // Turns the walking light on inputs 6..8 on or off.
    void setWalking(bool on) { m_walking = on; }

protected:
    std::optional<uint16_t> read(int function, int address) const override;
    bool writable(int address) const override;
    void write(int address, uint16_t value) override;

private:
    uint16_t m_register = 0;
    bool m_walking = true;
};

// QIM-M640: input registers 0..7 are ADC counts of eight simulated signals,
// holding registers 0..7 the DAC outputs (AO1..AO4, CL1..CL4, 0..4095) and
// 8..10 the ADC configuration (sampling interval, mode, averaging, ranges).
//   AIN1..AIN4  AO1..AO4 looped back, 0..10 V for counts 0..4095
//   AIN5        CL1's current loop (0..20 mA) across 250 ohm: 0..5 V
//   AIN6        a sine of 4 V amplitude, period 20 s
//   AIN7        a triangle from 0 to 8 V, period 30 s
//   AIN8        a 2.5 V reference with +/-25 mV of noise (averaging calms it)
class AnalogModule : public Module {
public:
    AnalogModule(uint8_t address);
    std::optional<uint16_t> holding(int address) const override;
    std::optional<uint16_t> input(int address) const override;
    bool supports(uint8_t function) const override;

    // The signal at input channel (0..7) in volts at simulated time t.
    double volts(int channel, double t) const;
    // Counts for volts with a range code (0..4), as the module converts.
    static uint16_t countsOf(double volts, int rangeCode);

protected:
    std::optional<uint16_t> read(int function, int address) const override;
    bool writable(int address) const override;
    void write(int address, uint16_t value) override;

private:
    std::array<uint16_t, 11> m_holding{};
};

// QIM-P750: four thermocouple loops with a simple thermal model.
// Input registers 0..3 process values (12-bit two's complement, whole
// degrees), 4..7 status words (high byte heater power %, low byte the eight
// status bits), 8..11 cold junctions (8-bit two's complement). Holding
// registers 1..4 PWM (manual mode heater power), 5 configuration, 6 control
// modes, 7..26 four loop blocks (set point, scaler, band, alarm high, alarm
// low). Coils 0..3 are the relays.
class TemperatureModule : public Module {
public:
    enum class Sensor { Ok, Open, ShortToGnd, ShortToVcc };
    enum StatusBit {
        OpenCircuit = 0x01,
        ShortToGndBit = 0x02,
        ShortToVccBit = 0x04,
        TcFault = 0x08,
        Stable = 0x10,
        HeaterOn = 0x20,
        AlarmLow = 0x40,
        AlarmHigh = 0x80,
    };
    // Heater at 100 % lifts a loop this far above the room at steady state.
    static constexpr double FullPowerRise = 400.0;
    static constexpr double TimeConstant = 90.0; // simulated seconds
    static constexpr double Hysteresis = 1.0;    // ON/OFF mode, degrees either side
    static constexpr double StableBand = 2.0;    // degrees either side of the set point
    static constexpr double StableAfter = 10.0;  // simulated seconds inside the band
    static constexpr int OpenReading = 2047;     // what a loop without a sensor reads

    TemperatureModule(uint8_t address);
    std::optional<uint16_t> holding(int address) const override;
    std::optional<uint16_t> input(int address) const override;
    std::optional<bool> coil(int address) const override;
    bool supports(uint8_t function) const override;

    void setSensor(int loop, Sensor sensor); // loop 0..3
    Sensor sensor(int loop) const;
    void setRoomTemperature(double celsius);
    double roomTemperature() const { return m_room; }
    // The loop's true temperature (not rounded, no sensor noise).
    double temperature(int loop) const;

protected:
    std::optional<uint16_t> read(int function, int address) const override;
    bool writable(int address) const override;
    void write(int address, uint16_t value) override;
    bool writeCoil(int address, bool on) override;

private:
    struct Loop {
        double t = 0;     // true temperature
        double power = 0; // heater power 0..100
        bool heating = false;
        std::array<double, 8> samples{}; // the last measured values, newest at [0]
        int sinceControl = 0;
        std::optional<double> nearSince;
        uint8_t status = 0;
        double roomOffset = 0;
        Sensor sensor = Sensor::Ok;
    };
    void advance() const;
    void sample(Loop& loop, int index, double when) const;
    void control(Loop& loop, int index) const;
    double measured(const Loop& loop) const;
    double sampleSeconds() const;
    int loopMode(int index) const;
    uint16_t reg(int address) const { return m_holding[static_cast<size_t>(address)]; }

    std::array<uint16_t, 27> m_holding{};
    std::array<bool, 4> m_coils{};
    double m_room = 22.0;
    mutable std::array<Loop, 4> m_loops;
    mutable double m_lastSample = 0;
    mutable double m_nextSample = 0;
    mutable uint64_t m_sampleIndex = 0;
    mutable bool m_started = false;
};

// Any other device code: a module the program does not know, with sixteen
// plain holding and sixteen plain input registers.
class GenericModule : public Module {
public:
    GenericModule(uint8_t address, uint8_t deviceCode);
    std::optional<uint16_t> holding(int address) const override;
    std::optional<uint16_t> input(int address) const override;
    bool supports(uint8_t function) const override;
    void setInput(int address, uint16_t value);

protected:
    bool writable(int address) const override;
    void write(int address, uint16_t value) override;

private:
    std::array<uint16_t, 16> m_holding{};
    std::array<uint16_t, 16> m_input{};
};

} // namespace qimsim

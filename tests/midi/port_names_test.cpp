// Port index space and naming, on both Windows version families.
#include <string>
#include <vector>

#include "midi/port_names.h"
#include "tests/midi/midi_fixture.h"

namespace {

using PortNamesTest = MidiFixture;

struct Names {
    std::string raw;
    std::string modelOnly;   // both options off
    std::string full;        // fullName only
    std::string fullNumber;  // both options on
};

// Names of one raw WinMM port on the given major version, for the three option pairs in use.
Names NamesOf(const std::string& raw, DWORD major) {
    sim::Reset();
    sim::SetWindowsMajorVersion(major);
    sim::AddOutputPort(raw);
    return {raw, OutputPortName(0), OutputPortName(0, true), OutputPortName(0, true, true)};
}

void ExpectTable(const std::vector<Names>& table, const std::vector<DWORD>& majors) {
    for (DWORD major : majors) {
        for (const Names& expected : table) {
            SCOPED_TRACE("major " + std::to_string(major) + ", raw <" + expected.raw + ">");
            Names got = NamesOf(expected.raw, major);
            EXPECT_EQ(got.modelOnly, expected.modelOnly);
            EXPECT_EQ(got.full, expected.full);
            EXPECT_EQ(got.fullNumber, expected.fullNumber);
        }
    }
}

TEST_F(PortNamesTest, ExamplesOnVersion6AndLater) {
    ExpectTable(
        {
            {"Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro: Port 1"},
            {"MIDIOUT2 (Quadrilux Pro)", "MIDIOUT2 Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro: Port 2"},
            {"2- Quadrilux Pro", "2- Quadrilux Pro", "2- Quadrilux Pro", "2- Quadrilux Pro: Port 1"},
            {"MIDIOUT2 (2- Quadrilux Pro)", "MIDIOUT2 2- Quadrilux Pro", "2- Quadrilux Pro",
             "2- Quadrilux Pro: Port 2"},
            {"2- Quadrilux", "Quadrilux", "2- Quadrilux", "2- Quadrilux: Port 1"},
            {"MIDIOUT2 (2- Quadrilux)", "Quadrilux", "2- Quadrilux", "2- Quadrilux: Port 2"},
            {"MIDIOUT2 (Quadrilux)", "Quadrilux", "Quadrilux", "Quadrilux: Port 2"},
            {"Quadrilux Pro: Port 2", "Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro: Port 2"},
        },
        {6, 10});
}

TEST_F(PortNamesTest, ExamplesBeforeVersion6KeepTheRawFullName) {
    ExpectTable(
        {
            {"Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro "},
            {"MIDIOUT2 (Quadrilux Pro)", "MIDIOUT2 Quadrilux Pro", "MIDIOUT2 (Quadrilux Pro)",
             "MIDIOUT2 (Quadrilux Pro) "},
            {"2- Quadrilux Pro", "2- Quadrilux Pro", "2- Quadrilux Pro", "2- Quadrilux Pro "},
            {"MIDIOUT2 (2- Quadrilux Pro)", "MIDIOUT2 2- Quadrilux Pro", "MIDIOUT2 (2- Quadrilux Pro)",
             "MIDIOUT2 (2- Quadrilux Pro) "},
            {"2- Quadrilux", "Quadrilux", "2- Quadrilux", "2- Quadrilux "},
            {"MIDIOUT2 (2- Quadrilux)", "Quadrilux", "MIDIOUT2 (2- Quadrilux)", "MIDIOUT2 (2- Quadrilux) "},
            {"MIDIOUT2 (Quadrilux)", "Quadrilux", "MIDIOUT2 (Quadrilux)", "MIDIOUT2 (Quadrilux) "},
            {"Quadrilux Pro: Port 2", "Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro : Port 2"},
        },
        {5, 4});
}

TEST_F(PortNamesTest, NamingEdgeCases) {
    ExpectTable(
        {
            // The instance digit of a name that is its own model is not masked: both digits count.
            {"MIDIOUT3 (2- Quadrilux Pro)", "MIDIOUT3 2- Quadrilux Pro", "2- Quadrilux Pro",
             "2- Quadrilux Pro: Port 2: Port 3"},
            // The marker takes only "MIDIOUT10" away; 0 is never a port number.
            {"MIDIOUT10 (Quadrilux Pro)", "MIDIOUT10 Quadrilux Pro", " Quadrilux Pro",
             " Quadrilux Pro: Port 1"},
            {"Quadrilux Pro: Port 7", "Quadrilux Pro", "Quadrilux Pro", "Quadrilux Pro: Port 7"},
            {"Other Synth", "Other Synth", "Other Synth", "Other Synth: Port 1"},
            {"Quadrilux Mini", "Quadrilux Mini", "Quadrilux Mini", "Quadrilux Mini: Port 1"},
            {"Quadrilux MK2", "Quadrilux MK2", "Quadrilux MK2", "Quadrilux MK2: Port 1"},
            {"3- Quadrilux", "Quadrilux", "3- Quadrilux", "3- Quadrilux: Port 1"},
            // Every parenthesis goes, also from a model name that is the whole raw name.
            {"Synth ((USB)) (A)", "Synth USB A", "Synth USB A", "Synth USB A: Port 1"},
            {"MIDIIN4 (Synth)", "MIDIIN4 Synth", "Synth", "Synth: Port 4"},
            // A two-digit instance number: both digits masked, the cleaned name starts with it.
            {"12- Quadrilux", "Quadrilux", "12- Quadrilux", "12- Quadrilux: Port 1"},
            {"MIDIOUT2 (12- Quadrilux)", "Quadrilux", "12- Quadrilux", "12- Quadrilux: Port 2"},
            // A port number of two digits gives only its first digit to the suffix.
            {"Synth: Port 12", "Synth2", "Synth2", "Synth: Port 12"},
            // A name that ends with the separator loses the separator alone.
            {"Synth: Port ", "Synth", "Synth", "Synth: Port "},
        },
        {10});
    ExpectTable(
        {
            {"Synth ((USB)) (A)", "Synth USB A", "Synth ((USB)) (A)", "Synth ((USB)) (A) "},
            {"Synth: Port ", "Synth", "Synth", "Synth : Port "},
        },
        {5});
}

TEST_F(PortNamesTest, MaskedNameOfAnInstanceNumber) {
    std::string raw = "3- Quadrilux";
    EXPECT_EQ(PortNames::CleanPortName(raw, "Quadrilux"), "3- Quadrilux");
    EXPECT_EQ(raw, "x- Quadrilux");

    raw = "MIDIOUT2 (12- Quadrilux)";
    EXPECT_EQ(PortNames::CleanPortName(raw, "Quadrilux"), "12- Quadrilux)");
    EXPECT_EQ(raw, "MIDIOUT2 (xx- Quadrilux)");

    // Behind a parenthesis the digit is no instance number.
    raw = "3 (Quadrilux)";
    EXPECT_EQ(PortNames::CleanPortName(raw, "Quadrilux"), "3 (Quadrilux)");
    EXPECT_EQ(raw, "3 (Quadrilux)");
}

TEST_F(PortNamesTest, TakePortSuffixCutsTheSeparatorAndOneByte) {
    std::string name = "A: Port 12 B";
    EXPECT_EQ(PortNames::TakePortSuffix(name), ": Port 1");
    EXPECT_EQ(name, "A2 B");
    name = "A: Port ";
    EXPECT_EQ(PortNames::TakePortSuffix(name), ": Port ");
    EXPECT_EQ(name, "A");
    name = "A";
    EXPECT_EQ(PortNames::TakePortSuffix(name), "");
    EXPECT_EQ(name, "A");
}

TEST_F(PortNamesTest, EraseMarkerNearTheEndAndWithoutMarker) {
    std::string name = "x MIDIOUT";
    PortNames::EraseMarker(name, "MIDIOUT");
    EXPECT_EQ(name, "x ");
    name = "(a) MIDIIN";
    PortNames::EraseMarker(name, "MIDIOUT");
    EXPECT_EQ(name, "(a) MIDIIN");
}

TEST_F(PortNamesTest, FailedCapabilityQueryNamesAnEmptyRawName) {
    for (DWORD major : {10u, 5u}) {
        sim::Reset();
        sim::SetWindowsMajorVersion(major);
        sim::SetOutputCapsError(sim::AddOutputPort("Quadrilux Pro"), MMSYSERR_NODRIVER);
        EXPECT_EQ(OutputPortName(0), "");
        EXPECT_EQ(OutputPortName(0, true), "");
        EXPECT_EQ(OutputPortName(0, true, true), major >= 6 ? ": Port 1" : " ");
    }
}

TEST_F(PortNamesTest, SoravelNeedsTwoInputPortsToKeepItsName) {
    sim::AddOutputPort("Soravel");
    sim::AddInputPort("Other In");
    int first = sim::AddInputPort("Soravel In");
    EXPECT_EQ(OutputPortName(0), "Quenwick Soravel");

    int failing = sim::AddInputPort("2- Soravel In");
    sim::SetInputCapsError(failing, MMSYSERR_NODRIVER);
    EXPECT_EQ(OutputPortName(0, true, true), "Quenwick Soravel: Port 1");

    sim::SetInputCapsError(failing, MMSYSERR_NOERROR);
    EXPECT_EQ(OutputPortName(0), "Soravel");
    EXPECT_EQ(OutputPortName(0, true, true), "Soravel: Port 1");

    sim::RemoveInputPort(first);
    EXPECT_EQ(OutputPortName(0), "Quenwick Soravel");
}

TEST_F(PortNamesTest, RawNameIsCutAtThirtyOneBytes) {
    sim::AddOutputPort(std::string(40, 'a'));
    EXPECT_EQ(OutputPortName(0), std::string(31, 'a'));
}

// A list with ports of its own, to show where the upper range of the index space goes.
class TwoPortList : public QuenwickDeviceList {
public:
    std::string FullPortName(std::int32_t position) override {
        return "Full (" + std::to_string(position) + ")";
    }
    std::int32_t PortCount() override { return 2; }
    std::string PortName(std::int32_t position) override {
        return "Model (" + std::to_string(position) + ")";
    }
    MIDI::Output* CreateOutput(std::int32_t /*position*/) override { return nullptr; }
    std::uintptr_t ReservedOperation(std::int32_t /*position*/) override { return 0; }
};

TEST_F(PortNamesTest, IndexSpaceJoinsWinmmPortsAndTheDeviceList) {
    EXPECT_EQ(OutputPortCount(), 0);
    for (bool full : {false, true}) {
        for (bool number : {false, true}) {
            EXPECT_EQ(OutputPortName(0, full, number), "");
            EXPECT_EQ(OutputPortName(7, full, number), "");
        }
    }

    int a = sim::AddOutputPort("A (1)");
    sim::AddOutputPort("B");
    delete deviceList;
    deviceList = new TwoPortList();
    EXPECT_EQ(OutputPortCount(), 4);
    EXPECT_EQ(OutputPortName(0), "A 1");
    EXPECT_EQ(OutputPortName(1), "B");
    // The list's names come back untouched, and the port number option does not reach them.
    EXPECT_EQ(OutputPortName(2), "Model (0)");
    EXPECT_EQ(OutputPortName(3, true, true), "Full (1)");
    EXPECT_EQ(OutputPortName(3, true, false), "Full (1)");

    // Nothing is cached: a port that goes shifts the range at once.
    sim::RemoveOutputPort(a);
    EXPECT_EQ(OutputPortCount(), 3);
    EXPECT_EQ(OutputPortName(0), "B");
    EXPECT_EQ(OutputPortName(1), "Model (0)");
}

TEST_F(PortNamesTest, WithoutADeviceListTheSpaceHoldsTheWinmmPortsAlone) {
    delete deviceList;
    deviceList = nullptr;
    sim::AddOutputPort("A");
    EXPECT_EQ(OutputPortCount(), 1);
    EXPECT_EQ(OutputPortName(1, true, true), "");
}

}  // namespace

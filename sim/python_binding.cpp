// korvanta_simulated_unit: the simulated-unit builder for the Python tests,
// one to one with simulated_unit.h, so a test builds its unit in one line:
//   EepromImage.erased().hw_uuid("00112233445566778899aabbccddeeff").board_type(1).install()
//   IdentityFiles().robot_id("0123456789abcdef0123456789abcdef").status(5).install()
// File contents and EEPROM bytes travel as bytes; build failures raise RuntimeError.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pybind11/pybind11.h>

#include "simulated_unit.h"

namespace py = pybind11;
namespace sim = korvanta_sim;

namespace {

std::vector<uint8_t> to_vector(const py::bytes& bytes) {
    std::string_view view(bytes);
    return std::vector<uint8_t>(view.begin(), view.end());
}

py::bytes to_bytes(const std::vector<uint8_t>& bytes) {
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

py::object read_file(const std::string& path) {
    std::optional<std::string> content = sim::read_file(path);
    if (!content) return py::none();
    return py::bytes(*content);
}

void add_eeprom_image(py::module_& m) {
    using Image = sim::EepromImage;
    // Setters return the image itself, so calls chain as in C++.
    constexpr auto self = py::return_value_policy::reference_internal;
    py::class_<Image>(m, "EepromImage")
        .def(py::init<size_t, uint8_t, unsigned int>(), py::arg("size") = sim::kEepromSize,
             py::arg("fill") = 0xFF, py::arg("base_offset") = 0)
        .def_static("erased", &Image::erased)
        .def_static("zeroed", &Image::zeroed)
        .def_static("from_bytes", [](const py::bytes& bytes) { return Image::from_bytes(to_vector(bytes)); })
        .def("hw_uuid", &Image::hw_uuid, self)
        .def("serial", &Image::serial, self)
        .def("robot_uuid", &Image::robot_uuid, self)
        .def("board_type", &Image::board_type, self)
        .def("version", &Image::version, self)
        .def("status", &Image::status, self)
        .def("bytes_at",
             [](Image& image, size_t offset, const py::bytes& bytes) -> Image& {
                 return image.bytes_at(offset, to_vector(bytes));
             },
             self)
        .def("truncate", &Image::truncate, self)
        .def("bytes", [](const Image& image) { return to_bytes(image.bytes()); })
        .def("install", &Image::install);
}

void add_identity_files(py::module_& m) {
    using Files = sim::IdentityFiles;
    constexpr auto self = py::return_value_policy::reference_internal;
    py::class_<Files>(m, "IdentityFiles")
        .def(py::init<>())
        .def("robot_id", &Files::robot_id, self)
        .def("hw_uuid", &Files::hw_uuid, self)
        .def("serial", &Files::serial, self)
        .def("board_type", &Files::board_type, self)
        .def("version", &Files::version, self)
        .def("status", &Files::status, self)
        .def("machine_id", &Files::machine_id, self)
        .def("install", &Files::install);
}

}  // namespace

PYBIND11_MODULE(korvanta_simulated_unit, m) {
    m.attr("IDENTITY_DIR") = sim::kIdentityDir;
    m.attr("MACHINE_ID_PATH") = sim::kMachineIdPath;
    m.attr("CPUINFO_PATH") = sim::kCpuinfoPath;
    m.attr("EEPROM_PATH") = sim::kEepromPath;
    m.attr("EEPROM_SIZE") = sim::kEepromSize;

    m.def("in_sandbox", &sim::in_sandbox);
    m.def("require_sandbox", &sim::require_sandbox);
    m.def("reset_unit", &sim::reset_unit);
    m.def("write_identity_file", &sim::write_identity_file);
    m.def("write_machine_id", &sim::write_machine_id);
    m.def("write_cpuinfo", &sim::write_cpuinfo);
    m.def("read_file", &read_file);
    m.def("read_eeprom", [] { return to_bytes(sim::read_eeprom()); });
    m.def("make_read_only", &sim::make_read_only);
    m.def("make_full", &sim::make_full);
    m.def("put_directory_at", &sim::put_directory_at);

    add_identity_files(m);
    add_eeprom_image(m);
}

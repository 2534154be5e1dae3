// korvanta_hardware_module: the identity library for CPython, one module file
// per version (3.10 above all).
//
// Every call converts its arguments, calls exactly one library operation and
// converts the result; the module keeps no state and adds no logic. Nothing
// carries a docstring or an argument name, so no argument can be passed by
// keyword.
#include <memory>
#include <string>
#include <utility>

#include <pybind11/pybind11.h>

#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"

// Loaded into another CPython version, the module must get as far as its init
// function, whose version check refuses that interpreter with ImportError. The
// loader binds every symbol first, so the functions that pybind11 calls and some
// versions lack are bound weakly: the thread-state getter that 3.13 renamed, and
// the functions new in 3.13 (pybind11 2.13 calls them for 3.13). None is called
// before the check has passed. The suite tries every other version installed.
#pragma weak _PyThreadState_UncheckedGet
#if PY_VERSION_HEX >= 0x030D0000
#pragma weak PyThreadState_GetUnchecked
#pragma weak PyDict_GetItemStringRef
#pragma weak PyObject_VisitManagedDict
#pragma weak PyObject_ClearManagedDict
#endif

namespace py = pybind11;

namespace {

using Information = korvanta_hardware::KorvantaHardwareInformation;

// A handle of the flat interface, owned by one hardInfo instance and given
// back to the library when the instance goes.
class HardInfo {
public:
    // Null when the library hands out no handle; the binding refuses that.
    static std::unique_ptr<HardInfo> create() {
        Handle handle(KorvantaHardwareInformation_create());
        if (!handle) return nullptr;
        return std::unique_ptr<HardInfo>(new HardInfo(std::move(handle)));
    }

    KorvantaHardwareInformation* get() const { return handle_.get(); }

private:
    struct Destroy {
        void operator()(KorvantaHardwareInformation* h) const { KorvantaHardwareInformation_destroy(h); }
    };
    using Handle = std::unique_ptr<KorvantaHardwareInformation, Destroy>;

    explicit HardInfo(Handle handle) : handle_(std::move(handle)) {}

    Handle handle_;
};

// The status argument of write_robot_status: a value the store can hold as is.
struct StatusCode {
    unsigned short value = 0;
};

}  // namespace

namespace pybind11::detail {

// An instance made by cls.__new__(cls) has no object yet: its __init__ never
// ran, and pybind11 2.10 would hand out raw storage for it. Refuse it like an
// argument of the wrong type, so the library never sees a made-up object.
template <typename T>
struct constructed_caster : type_caster_base<T> {
    bool load(handle src, bool convert) {
        const type_info* type = get_type_info(typeid(T));
        if (isinstance(src, handle(reinterpret_cast<PyObject*>(type->type)))) {
            value_and_holder holder = reinterpret_cast<instance*>(src.ptr())->get_value_and_holder(type, false);
            if (!holder || !holder.holder_constructed()) return false;
        }
        return type_caster_base<T>::load(src, convert);
    }
};

template <>
struct type_caster<korvanta_hardware::KorvantaHardwareInformation>
    : constructed_caster<korvanta_hardware::KorvantaHardwareInformation> {};

template <>
struct type_caster<HardInfo> : constructed_caster<HardInfo> {};

// Takes what the stock unsigned short conversion takes (ints 0..65535, and
// numbers that convert to one: enumeration members, objects with __index__ or
// __int__), except numbers that convert only by dropping a fraction:
// Decimal("5.5") must not become 5.
template <>
struct type_caster<StatusCode> {
    PYBIND11_TYPE_CASTER(StatusCode, const_name("int"));

    bool load(handle src, bool convert) {
        make_caster<unsigned short> code;
        if (!code.load(src, convert)) return false;
        unsigned short converted = cast_op<unsigned short>(code);
        // __index__ is exact by definition; only __int__ may truncate.
        if (!PyLong_Check(src.ptr()) && !PyIndex_Check(src.ptr()) && differs(src, converted)) return false;
        value.value = converted;
        return true;
    }

private:
    // Whether the number says it is not equal to the int it converted to. One
    // that does not compare with ints (NotImplemented) says nothing against it.
    static bool differs(handle src, unsigned short converted) {
        richcmpfunc compare = Py_TYPE(src.ptr())->tp_richcompare;
        if (compare == nullptr) return false;
        object same = reinterpret_steal<object>(compare(src.ptr(), int_(converted).ptr(), Py_EQ));
        int truth = !same ? -1 : same.ptr() == Py_NotImplemented ? 1 : PyObject_IsTrue(same.ptr());
        if (truth < 0) PyErr_Clear();
        return truth != 1;
    }
};

}  // namespace pybind11::detail

namespace {

// Objects, handles and texts are taken by reference, so None is refused with a
// TypeError before the library could see a null pointer. (A member function
// bound directly would take self as a pointer: info.get_uuid(None) would pass
// null.)
void add_info(py::module_& m) {
    py::class_<Information>(m, "info")
        .def(py::init<>())
        .def("get_uuid", [](const Information& self) -> const std::string& { return self.get_uuid(); })
        .def("get_machine_id",
             [](const Information& self) -> const std::string& { return self.get_machine_id(); })
        .def("get_cpu_serial_number",
             [](const Information& self) -> const std::string& { return self.get_cpu_serial_number(); })
        .def("get_hardware_info",
             [](const Information& self, std::string key) -> const std::string& {
                 return self.get_hardware_info(std::move(key));
             });
}

void add_hard_info(py::module_& m) {
    py::class_<HardInfo>(m, "hardInfo").def(py::init(&HardInfo::create));
}

void add_functions(py::module_& m) {
    m.def("get_version_code",
          [](const HardInfo& h) { return KorvantaHardwareInformation_get_robot_version_code(h.get()); });
    m.def("get_version_str",
          [](const HardInfo& h) { return KorvantaHardwareInformation_get_robot_version(h.get()); });
    m.def("get_board_type_code",
          [](const HardInfo& h) { return KorvantaHardwareInformation_get_board_type_code(h.get()); });
    m.def("get_board_type_str",
          [](const HardInfo& h) { return KorvantaHardwareInformation_get_board_type(h.get()); });
    m.def("get_robot_status_code",
          [](const HardInfo& h) { return KorvantaHardwareInformation_get_robot_status_code(h.get()); });
    m.def("get_robot_status_str",
          [](const HardInfo& h) { return KorvantaHardwareInformation_get_robot_status(h.get()); });
    m.def("write_uuid", [](HardInfo& h, const std::string& uuid) {
        return KorvantaHardwareInformation_writeUuid(h.get(), uuid.c_str());
    });
    m.def("write_robot_status", [](HardInfo& h, StatusCode status) {
        return KorvantaHardwareInformation_writeRobotStatus(h.get(), status.value);
    });
    m.def("write_serial", [](HardInfo& h, const std::string& serial) {
        return KorvantaHardwareInformation_writeSerial(h.get(), serial.c_str());
    });
}

void add_enums(py::module_& m) {
    py::enum_<ROBOT_STATUS_ENUM>(m, "ROBOT_STATUS_ENUM")
        .value("STATUS_UNKNOWN", STATUS_UNKNOWN)
        .value("STATUS_MACHINE_TEST", STATUS_MACHINE_TEST)
        .value("STATUS_TESTING", STATUS_TESTING)
        .value("STATUS_QA_TEST", STATUS_QA_TEST)
        .value("STATUS_PRE_RELEASE", STATUS_PRE_RELEASE)
        .value("STATUS_RELEASE", STATUS_RELEASE)
        .value("STATUS_PROD_0", STATUS_PROD_0)
        .value("STATUS_PROD_1", STATUS_PROD_1)
        .value("STATUS_PROD_2", STATUS_PROD_2)
        .export_values();

    py::enum_<BOARD_TYPE_ENUM>(m, "BOARD_TYPE_ENUM")
        .value("BOARD_TYPE_UNKNOWN", BOARD_TYPE_UNKNOWN)
        .value("BOARD_ROBOT", BOARD_ROBOT)
        .value("BOARD_AI", BOARD_AI)
        .value("BOARD_STATION", BOARD_STATION)
        .export_values();

    py::enum_<ROBOT_VERSION_ENUM>(m, "ROBOT_VERSION_ENUM")
        .value("ROBOT_VERSION_UNKNOWN", ROBOT_VERSION_UNKNOWN)
        .value("ROBOT_VERSION_KORVANTA_DVT1", ROBOT_VERSION_KORVANTA_DVT1)
        .value("ROBOT_VERSION_KORVANTA_DVT2", ROBOT_VERSION_KORVANTA_DVT2)
        .value("ROBOT_VERSION_KORVANTA_PRO_EVT", ROBOT_VERSION_KORVANTA_PRO_EVT)
        .value("ROBOT_VERSION_TALVORN_EVT", ROBOT_VERSION_TALVORN_EVT)
        .value("ROBOT_VERSION_TALVORN_DVT", ROBOT_VERSION_TALVORN_DVT)
        .value("ROBOT_VERSION_TALVORN_PVT", ROBOT_VERSION_TALVORN_PVT)
        .export_values();

    py::enum_<STATION_VERSION_ENUM>(m, "STATION_VERSION_ENUM")
        .value("STATION_VERSION_UNKNOWN", STATION_VERSION_UNKNOWN)
        .value("STATION_VERSION_OLD", STATION_VERSION_OLD)
        .value("STATION_VERSION_2024_930", STATION_VERSION_2024_930)
        .export_values();
}

}  // namespace

// The macro refuses any interpreter but 3.10 with ImportError before the
// module exists, and turns failures while registering into ImportError.
PYBIND11_MODULE(korvanta_hardware_module, m) {
    add_info(m);
    add_hard_info(m);
    add_functions(m);
    add_enums(m);
}

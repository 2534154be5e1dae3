"""korvanta_hardware_module on simulated units. Run inside korvanta-sandbox."""
import ast
import contextlib
import copy
import ctypes
import gc
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from decimal import Decimal

import korvanta_simulated_unit as unit

unit.require_sandbox()

import korvanta_hardware_module as k  # noqa: E402

HW_UUID = "00112233445566778899aabbccddeeff"
ROBOT_UUID = "0123456789abcdef0123456789abcdef"
NEW_UUID = "fedcba9876543210fedcba9876543210"
STATUS_FILE = unit.IDENTITY_DIR + "/robot_status_code"


@contextlib.contextmanager
def stderr_of_library():
    """Collects what the library prints on file descriptor 2."""
    text = []
    with tempfile.TemporaryFile() as sink:
        saved = os.dup(2)
        os.dup2(sink.fileno(), 2)
        try:
            yield text
        finally:
            os.dup2(saved, 2)
            os.close(saved)
            sink.seek(0)
            text.append(sink.read().decode())


def file_unit(status="3\n"):
    unit.reset_unit()
    unit.write_identity_file("robot_id", ROBOT_UUID + "\n")
    unit.write_identity_file("robot_status_code", status)


class ModuleShapeTest(unittest.TestCase):
    def test_attributes_are_registered_in_order(self):
        names = [n for n in vars(k) if not n.startswith("__")]
        self.assertEqual(names[:11], ["info", "hardInfo", "get_version_code", "get_version_str",
                                      "get_board_type_code", "get_board_type_str", "get_robot_status_code",
                                      "get_robot_status_str", "write_uuid", "write_robot_status", "write_serial"])
        self.assertEqual(names[11:13], ["ROBOT_STATUS_ENUM", "STATUS_UNKNOWN"])
        self.assertEqual(names[20:22], ["STATUS_PROD_2", "BOARD_TYPE_ENUM"])

    def test_nothing_has_a_docstring_or_argument_names(self):
        self.assertIsNone(k.__doc__)
        self.assertIsNone(k.info.__doc__)
        self.assertIsNone(k.hardInfo.__doc__)
        self.assertEqual(k.write_uuid.__doc__,
                         "write_uuid(arg0: korvanta_hardware_module.hardInfo, arg1: str) -> bool\n")

    def test_stub_declares_what_the_module_has(self):
        with open(os.environ["KORVANTA_HARDWARE_MODULE_STUB"]) as stub:
            tree = ast.parse(stub.read())
        declared = {}
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                declared[node.name] = [n.name if isinstance(n, ast.FunctionDef) else n.target.id
                                       for n in node.body if isinstance(n, (ast.FunctionDef, ast.AnnAssign))]
            elif isinstance(node, ast.FunctionDef):
                declared[node.name] = []
            elif isinstance(node, ast.AnnAssign):
                declared[node.target.id] = []
        declared.pop("_Enum")
        self.assertEqual(sorted(declared), sorted(n for n in vars(k) if not n.startswith("__")))
        self.assertEqual(declared["info"], ["__init__", "get_uuid", "get_machine_id",
                                            "get_cpu_serial_number", "get_hardware_info"])
        for name in ("ROBOT_STATUS_ENUM", "BOARD_TYPE_ENUM", "ROBOT_VERSION_ENUM", "STATION_VERSION_ENUM"):
            self.assertEqual(declared[name][1:], list(getattr(k, name).__members__), name)


class ImportTest(unittest.TestCase):
    def test_other_interpreters_refuse_the_module_with_the_mismatch_message(self):
        # The suite runs under the interpreter the module was built for.
        compiled = "%d.%d" % sys.version_info[:2]
        interpreters = [p for p in os.environ.get("KORVANTA_OTHER_PYTHONS", "").split(":") if p]
        if not interpreters:
            self.skipTest("no other Python found at configure time")
        probe = ("import sys\ntry:\n    import korvanta_hardware_module\nexcept ImportError as e:\n"
                 "    print(repr((str(e), sys.version)))\n")
        with tempfile.TemporaryDirectory() as directory:
            shutil.copy(os.environ["KORVANTA_HARDWARE_MODULE_FILE"], directory + "/korvanta_hardware_module.so")
            for python in interpreters:
                env = {k_: v for k_, v in os.environ.items() if not k_.startswith("PYTHON")}
                out = subprocess.run([python, "-c", probe], cwd=directory, env=env, check=True,
                                     capture_output=True, text=True).stdout
                message, version = ast.literal_eval(out)
                self.assertNotEqual(version.split(".")[:2], compiled.split("."))
                self.assertEqual(message, "Python version mismatch: module was compiled for Python %s, "
                                          "but the interpreter version is incompatible: %s." % (compiled, version))


class EnumerationTest(unittest.TestCase):
    def test_members_values_and_int_equality(self):
        self.assertIs(k.STATUS_RELEASE, k.ROBOT_STATUS_ENUM.STATUS_RELEASE)
        self.assertEqual(k.STATUS_RELEASE.value, 5)
        self.assertTrue(k.STATUS_RELEASE == 5)
        self.assertFalse(k.STATUS_RELEASE == None)  # noqa: E711
        self.assertEqual(int(k.ROBOT_VERSION_ENUM.ROBOT_VERSION_UNKNOWN), 65535)
        self.assertEqual(int(k.STATION_VERSION_ENUM.STATION_VERSION_OLD), 0)
        self.assertEqual([int(m) for m in k.ROBOT_VERSION_ENUM.__members__.values()], [65535, 1, 2, 10, 20, 21, 22])
        self.assertEqual([int(m) for m in k.STATION_VERSION_ENUM.__members__.values()], [65535, 0, 1])
        self.assertNotIn(4, [int(m) for m in k.BOARD_TYPE_ENUM.__members__.values()])
        with self.assertRaises(TypeError):
            k.STATUS_RELEASE < k.STATUS_PROD_0


class ReadTest(unittest.TestCase):
    def test_eeprom_unit_codes_names_and_texts(self):
        unit.reset_unit()
        unit.EepromImage.erased().hw_uuid(HW_UUID).board_type(1).version(2).status(5).install()
        unit.write_cpuinfo("Serial\t\t: 00000000c0ffee42\n")
        h, i = k.hardInfo(), k.info()
        self.assertEqual((k.get_version_code(h), k.get_version_str(h)), (2, "KORVANTA_DVT2"))
        self.assertEqual((k.get_board_type_code(h), k.get_board_type_str(h)), (1, "ROBOT_BOARD"))
        self.assertEqual((k.get_robot_status_code(h), k.get_robot_status_str(h)), (5, "RELEASE"))
        self.assertEqual((i.get_uuid(), i.get_machine_id()), (HW_UUID, HW_UUID))
        self.assertEqual(i.get_cpu_serial_number(), "00000000c0ffee42")
        self.assertEqual(i.get_hardware_info("uuid"), i.get_uuid())
        self.assertEqual(i.get_hardware_info(b"uuid"), i.get_uuid())
        self.assertEqual(i.get_hardware_info("uuid\0tail"), "null")  # the key keeps its full length
        self.assertEqual(i.get_hardware_info("colour"), "null")

    def test_unread_version_is_unknown_and_board_four_has_a_name_only(self):
        unit.reset_unit()
        unit.write_identity_file("board_type_code", "4\n")
        h = k.hardInfo()
        self.assertEqual(k.get_version_code(h), 65535)
        self.assertEqual(k.ROBOT_VERSION_ENUM(k.get_version_code(h)), k.ROBOT_VERSION_UNKNOWN)
        self.assertEqual(k.get_board_type_str(h), "SIMULATION_BOARD")

    def test_a_text_that_is_not_utf8_raises_decode_error(self):
        unit.reset_unit()
        unit.write_identity_file("robot_id", b"\xff\xfe" * 16 + b"\n")
        with self.assertRaises(UnicodeDecodeError):
            k.info().get_uuid()


class WriteTest(unittest.TestCase):
    def test_status_range_is_checked_before_the_library_is_called(self):
        file_unit()
        h = k.hardInfo()
        for refused in (65536, -1, 5.0, Decimal("5.5"), 2 ** 64, "5", None):
            with self.subTest(status=refused), self.assertRaises(TypeError):
                k.write_robot_status(h, refused)
            self.assertEqual(unit.read_file(STATUS_FILE), b"3\n")
        self.assertTrue(k.write_robot_status(h, 65535))
        self.assertEqual(k.get_robot_status_code(k.hardInfo()), 65535)
        self.assertTrue(k.write_robot_status(h, k.STATUS_RELEASE))
        self.assertEqual(k.get_robot_status_code(k.hardInfo()), 5)

    def test_whole_numbers_of_any_type_convert_as_pybind11_converts_them(self):
        class OnlyIndex:
            def __index__(self):
                return 6

        class OnlyInt:
            def __int__(self):
                return 7

        file_unit()
        h = k.hardInfo()
        for number, code in ((OnlyIndex(), 6), (OnlyInt(), 7), (Decimal("8"), 8)):
            with self.subTest(status=type(number).__name__):
                self.assertTrue(k.write_robot_status(h, number))
                self.assertEqual(k.get_robot_status_code(k.hardInfo()), code)

    def test_writes_leave_the_cache_of_existing_instances(self):
        file_unit()
        h, i = k.hardInfo(), k.info()
        self.assertTrue(k.write_robot_status(h, 7))
        self.assertTrue(k.write_uuid(h, NEW_UUID))
        self.assertTrue(k.write_serial(h, b"5" * 32))
        self.assertEqual((k.get_robot_status_code(h), k.get_robot_status_str(h)), (3, "QA_TEST"))
        self.assertEqual((i.get_uuid(), i.get_hardware_info("serial")), (ROBOT_UUID, "null"))
        self.assertEqual(k.get_robot_status_code(k.hardInfo()), 7)
        self.assertEqual((k.info().get_uuid(), k.info().get_hardware_info("serial")), (NEW_UUID, "5" * 32))

    def test_short_texts_fail_in_the_library_with_its_message(self):
        file_unit()
        h = k.hardInfo()
        with stderr_of_library() as err:
            self.assertFalse(k.write_uuid(h, "a" * 31))
            self.assertFalse(k.write_uuid(h, "a" * 31 + "\0" + "a"))  # seen up to the NUL
            self.assertFalse(k.write_serial(h, "5" * 31))
        self.assertEqual(err[0], "uuid length is too short \n" * 2 + "serial length is too short \n")
        self.assertEqual(unit.read_file(unit.IDENTITY_DIR + "/robot_id"), (ROBOT_UUID + "\n").encode())


class RefusedArgumentTest(unittest.TestCase):
    def test_none_wrong_class_and_unconstructed_instances_are_refused(self):
        file_unit()
        h, i = k.hardInfo(), k.info()
        calls = [lambda: k.get_version_code(None), lambda: k.get_version_code(i),
                 lambda: k.get_board_type_str(k.hardInfo.__new__(k.hardInfo)),
                 lambda: k.write_robot_status(None, 5), lambda: k.write_uuid(h, None),
                 lambda: k.write_serial(h, None), lambda: k.write_uuid(h, "\ud800" * 32),
                 lambda: k.write_uuid(h, uuid=NEW_UUID), lambda: k.info.get_uuid(None),
                 lambda: k.info.get_uuid(h), lambda: k.info.get_uuid(k.info.__new__(k.info)),
                 lambda: i.get_hardware_info(None), lambda: k.info(1), lambda: k.hardInfo(1),
                 lambda: copy.copy(h)]
        for number, call in enumerate(calls):
            with self.subTest(call=number), self.assertRaises(TypeError):
                call()
        self.assertFalse(hasattr(h, "get_version_code"))
        with self.assertRaises(AttributeError):
            h.note = 1
        self.assertEqual(unit.read_file(unit.IDENTITY_DIR + "/robot_id"), (ROBOT_UUID + "\n").encode())


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _MallInfo2


def heap_in_use():
    """Bytes that malloc has handed out: where the library's objects live."""
    gc.collect()
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def open_fds():
    return len(os.listdir("/proc/self/fd"))


class LifetimeTest(unittest.TestCase):
    def test_an_instance_closes_its_eeprom_when_it_goes(self):
        unit.reset_unit()
        unit.EepromImage.erased().hw_uuid(HW_UUID).install()
        for make in (k.info, k.hardInfo):
            before = open_fds()
            instance = make()
            self.assertEqual(open_fds(), before + 1, make)
            del instance
            self.assertEqual(open_fds(), before, make)

    def test_closed_standard_descriptors_never_lead_into_the_eeprom(self):
        # A daemon without stdio; the third EEPROM would otherwise open as 2 and
        # take the message about the erased robot identifier.
        unit.reset_unit()
        image = unit.EepromImage.erased().hw_uuid(HW_UUID).status(5)
        image.install()
        code = ("import os, korvanta_hardware_module as k\n"
                "for fd in (0, 1, 2): os.close(fd)\n"
                "handles = [k.hardInfo() for _ in range(3)]\n"
                "os._exit(0 if all([k.write_robot_status(h, 9) for h in handles]) else 1)\n")
        self.assertEqual(subprocess.run([sys.executable, "-c", code]).returncode, 0)
        expected = bytearray(image.bytes())
        expected[52] = 9
        self.assertEqual(unit.read_eeprom(), bytes(expected))

    def test_many_instances_leak_nothing(self):
        unit.reset_unit()
        unit.EepromImage.erased().hw_uuid(HW_UUID).robot_uuid(ROBOT_UUID).serial(ROBOT_UUID).install()
        unit.write_cpuinfo("Serial\t\t: 00000000c0ffee42\n")
        count = 3000
        for make in (k.info, k.hardInfo):
            for _ in range(200):  # first-use growth of the interpreter and pybind11
                make()
            heap, fds = heap_in_use(), open_fds()
            for _ in range(count):
                make()
            self.assertEqual(open_fds(), fds, make)
            # One object with its strings and EEPROM backend is several hundred bytes.
            self.assertLess(heap_in_use() - heap, count * 16, make)


if __name__ == "__main__":
    unittest.main()

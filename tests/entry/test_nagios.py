#!/usr/bin/python3
"""Ostrel in plugin mode under a real monitoring engine: Debian's Nagios with a private configuration, the
command definition of docs/monitoring/nagios.cfg, and three services whose states and output are read back from
the engine's status file. test_nagios.py path/to/ostrel"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, Program  # noqa: E402

BUILT = sys.argv.pop(1)
DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "monitoring", "nagios.cfg")


def define(kind, **fields):
    return f"define {kind} {{\n" + "".join(f"    {key} {value}\n" for key, value in fields.items()) + "}\n"


class Nagios(unittest.TestCase):
    def test_states_output_and_performance_data(self):
        folder = tempfile.mkdtemp(prefix="ostrel-nagios-")
        os.chmod(folder, 0o777)
        program = Program(BUILT)
        open_port, refused = Port(), Port("refused")
        with open(DOCS) as file:  # the command as an administrator copies it
            command = re.search(r"define command \{.*?\}", file.read(), re.S).group(0)
        services = {"open": f"{open_port.port}!5", "refused": f"{refused.port}!5", "rejected": "22!"}
        days = {day: "00:00-24:00" for day in ("sunday", "monday", "tuesday", "wednesday", "thursday", "friday",
                                                "saturday")}
        objects = [command.replace("/usr/bin/ostrel", program.path),
                   define("timeperiod", timeperiod_name="always", alias="always", **days),
                   define("contact", contact_name="nobody", host_notifications_enabled=0,
                          service_notifications_enabled=0, host_notification_period="always",
                          service_notification_period="always", host_notification_options="n",
                          service_notification_options="n", host_notification_commands="ostrel",
                          service_notification_commands="ostrel"),
                   define("host", host_name="loopback", address="127.0.0.1", max_check_attempts=1,
                          check_period="always", notifications_enabled=0)]
        objects += [define("service", host_name="loopback", service_description=name, check_command="ostrel!" + args,
                           check_interval=1, retry_interval=1, max_check_attempts=1, check_period="always",
                           notifications_enabled=0) for name, args in services.items()]
        settings = {"log_file": "nagios.log", "cfg_file": "objects.cfg", "status_file": "status.dat",
                    "check_result_path": "results", "lock_file": "nagios.lock", "temp_file": "nagios.tmp",
                    "temp_path": ".", "object_cache_file": "objects.cache", "precached_object_file": "objects.pre",
                    "state_retention_file": "retention.dat", "query_socket": "nagios.qh"}
        os.mkdir(os.path.join(folder, "results"))
        os.chmod(os.path.join(folder, "results"), 0o777)
        with open(os.path.join(folder, "objects.cfg"), "w") as file:
            file.write("\n".join(objects))
        with open(os.path.join(folder, "nagios.cfg"), "w") as file:
            file.write("".join(f"{key}={os.path.join(folder, value)}\n" for key, value in settings.items()))
            file.write("interval_length=1\nstatus_update_interval=1\nretain_state_information=0\nuse_syslog=0\n"
                       "check_external_commands=0\nenable_notifications=0\nnagios_user=nagios\nnagios_group=nagios\n"
                       "check_result_reaper_frequency=1\nmax_check_result_reaper_time=1\n")
        engine = subprocess.Popen(["/usr/sbin/nagios4", os.path.join(folder, "nagios.cfg")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        try:
            seen = {}
            deadline = time.monotonic() + 60
            while len(seen) < 3 and time.monotonic() < deadline and engine.poll() is None:
                time.sleep(0.5)
                seen = self.services(os.path.join(folder, "status.dat"))
            self.assertEqual(len(seen), 3, f"the engine checked {sorted(seen)}; its log: "
                             + open(os.path.join(folder, "nagios.log")).read()[-2000:])
        finally:
            engine.terminate()
            engine.wait(10)
            open_port.close()
            refused.close()
            shutil.rmtree(folder, ignore_errors=True)
        self.assertEqual(seen["open"][0], "0")
        self.assertRegex(seen["open"][1], rf"^TCP OK - 0\.\d{{3}} second response time on 127\.0\.0\.1 port "
                                          rf"{open_port.port}$")
        self.assertRegex(seen["open"][2], r"^time=0\.\d{6}s;;;0\.000000;5\.000000$")
        self.assertEqual(seen["refused"], ("2", f"TCP CRITICAL - Connection refused on 127.0.0.1 port {refused.port}",
                                           ""))
        self.assertEqual(seen["rejected"], ("3", "TCP UNKNOWN - Incorrect calling sequence: the timeout is empty", ""))

    @staticmethod
    def services(status):
        """Each checked service's state, output and performance data, as the engine recorded them."""
        if not os.path.exists(status):
            return {}
        found = {}
        for block in re.findall(r"servicestatus \{(.*?)\}", open(status).read(), re.S):
            fields = dict(re.findall(r"^\s*(\w+)=(.*)$", block, re.M))
            if fields.get("has_been_checked") == "1":
                found[fields["service_description"]] = (fields["current_state"], fields["plugin_output"],
                                                        fields["performance_data"])
        return found


if __name__ == "__main__":
    unittest.main(warnings="ignore")

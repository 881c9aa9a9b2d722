#!/usr/bin/python3
"""Debian's Nagios and Icinga 2 running the definitions of docs/monitoring as an administrator copies them, each
with a private configuration and state: the states, output and performance data they record. As root, under
`unshare --mount`: test_engines.py path/to/check_ostrel path/to/ostrel"""
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, Program, confine_resolver  # noqa: E402

PLUGIN, SEQUENCE = Program(sys.argv.pop(1)), Program(sys.argv.pop(1))
DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "monitoring")
OK = r"TCP OK - 0\.\d{3} second response time on 127\.0\.0\.1 port %d"


def shipped(name, replacements):
    text = pathlib.Path(DOCS, name).read_text()
    for old, new in replacements.items():
        assert old in text, old
        text = text.replace(old, new)
    return text


class Engines(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resolver = confine_resolver()
        cls.folder = tempfile.mkdtemp(prefix="ostrel-engine-")
        os.chmod(cls.folder, 0o777)
        cls.banner, cls.refused = Port("banner"), Port("refused")

    def test_nagios(self):
        """The shipped host, service and both commands, with Debian's stock templates, commands and contacts."""
        folder, refused = os.path.join(self.folder, "nagios"), self.refused.port
        os.mkdir(folder)
        objects = shipped("nagios.cfg", {"192.0.2.10": "127.0.0.1", "check_ostrel!22!": f"check_ostrel!{self.banner.port}!",
                                         "ostrel_sequence!80!": f"ostrel_sequence!{refused}!",
                                         "/usr/bin/ostrel": SEQUENCE.path})
        extra = {"no port": "check_ostrel!x"}
        # linux-server's host check, which Debian's monitoring-plugins-basic defines.
        objects += "define command {\n command_name check-host-alive\n command_line /bin/true\n}\n" + "".join(f"define service {{\n use generic-service\n host_name fileserver1\n service_description "
                           f"{name}\n check_command {command}\n}}\n" for name, command in extra.items())
        stock = [f"cfg_file=/etc/nagios4/objects/{name}.cfg\n" for name in ("commands", "contacts", "timeperiods",
                                                                            "templates")]
        files = {"ostrel.cfg": objects, "resource.cfg": f"$USER1$={os.path.dirname(PLUGIN.path)}\n",
                 "nagios.cfg": "".join(stock) + "".join(f"{setting.replace('=', '=' + folder + '/')}\n" for setting in (
                     "cfg_file=ostrel.cfg resource_file=resource.cfg log_file=nagios.log status_file=status.dat "
                     "check_result_path=. lock_file=nagios.lock temp_file=nagios.tmp temp_path=. query_socket=nagios.qh "
                     "object_cache_file=objects.cache precached_object_file=objects.pre").split())
                 + "interval_length=1\nstatus_update_interval=1\nretain_state_information=0\nuse_syslog=0\n"
                 "service_inter_check_delay_method=n\ncheck_external_commands=0\nenable_notifications=0\n"
                 "nagios_user=nagios\nnagios_group=nagios\ncheck_result_reaper_frequency=1\n"}
        for name, text in files.items():
            pathlib.Path(folder, name).write_text(text)
        os.chmod(folder, 0o777)
        engine = subprocess.Popen(["/usr/sbin/nagios4", os.path.join(folder, "nagios.cfg")],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            seen, deadline = {}, time.monotonic() + 60
            while len(seen) < 3 and time.monotonic() < deadline and engine.poll() is None:
                time.sleep(0.5)
                seen = self.nagios_services(os.path.join(folder, "status.dat"))
        finally:
            engine.terminate()
            output = engine.communicate(timeout=10)[0]
        self.assertEqual(len(seen), 3, f"the engine checked {sorted(seen)}: {output[-2000:]}")
        self.assertRegex(" ".join(seen["SSH port"]), rf"^0 {OK % self.banner.port} "
                                                     r"time=0\.\d{6}s;0\.500000;2\.000000;0\.000000;10\.000000 $")
        self.assertEqual(seen["Web port"], ("2", f"TCP CRITICAL - Connection refused on 127.0.0.1 port {refused}", "",
                                            ""))
        self.assertEqual(seen["no port"][:3], ("3", 'TCP UNKNOWN - the port "x" is not a number from 1 to 65535', ""))
        self.assertRegex(seen["no port"][3], r"^Usage: check_ostrel -H host -p port ")

    @staticmethod
    def nagios_services(status):
        """Each checked service's state, output, performance data and further lines, as the engine recorded them."""
        found = {}
        for block in re.findall(r"servicestatus \{(.*?)\}", open(status).read() if os.path.exists(status) else "", re.S):
            fields = dict(re.findall(r"^\s*(\w+)=(.*)$", block, re.M))
            if fields.get("has_been_checked") == "1":
                found[fields["service_description"]] = (fields["current_state"], fields["plugin_output"],
                                                        fields["performance_data"], fields["long_plugin_output"])
        return found

    def test_icinga(self):
        """The shipped CheckCommand and apply rule, validated by `icinga2 daemon -C`, then run in the foreground."""
        folder, refused = os.path.join(self.folder, "icinga"), self.refused.port
        os.mkdir(folder)
        pathlib.Path(folder, "icinga2.conf").write_text(
            f'include <itl>\ninclude <plugins>\nconst PluginDir = "{os.path.dirname(PLUGIN.path)}"\n'
            'object CheckerComponent "checker" { }\nobject Host "fileserver1" {\n  address = "127.0.0.1"\n'
            '  check_command = "dummy"\n  vars.os = "Linux"\n}\n'
            + shipped("icinga2.conf", {"vars.ostrel_port = 22": f"vars.ostrel_port = {self.banner.port}",
                                       "check_interval = 1m": "check_interval = 1s"})
            + f'apply Service "refused" {{\n  check_command = "ostrel"\n  check_interval = 1s\n'
            f'  vars.ostrel_port = {refused}\n  vars.ostrel_ipv4 = true\n  assign where true\n}}\n')
        paths = [f"-D{key}={folder}" for key in ("DataDir", "CacheDir", "LogDir", "InitRunDir", "SpoolDir")]
        command = ["icinga2", "daemon", "-c", os.path.join(folder, "icinga2.conf"), "-DRunAsUser=root",
                   "-DRunAsGroup=root", *paths]
        check = subprocess.run(command + ["-C"], capture_output=True, text=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout[-2000:])
        engine = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        time.sleep(5)  # the first checks come within the check interval of 1 s
        engine.send_signal(signal.SIGTERM)  # which writes the state file
        output = engine.communicate(timeout=30)[0]
        results = {}
        text = pathlib.Path(folder, "icinga2.state").read_text()
        while text:  # netstrings of JSON objects
            size, text = text.split(":", 1)
            entry, text = json.loads(text[:int(size)]), text[int(size) + 1:]
            if entry["type"] == "Service" and (result := entry["update"].get("last_check_result")):
                results[entry["name"]] = (result["state"], result["output"], result["performance_data"])
        self.assertEqual(sorted(results), ["fileserver1!refused", "fileserver1!ssh-port"], output[-2000:])
        state, line, performance = results["fileserver1!ssh-port"]
        self.assertEqual(state, 0)
        self.assertRegex(line, "^" + OK % self.banner.port + "$")
        self.assertRegex(" ".join(performance), r"^time=0\.\d{6}s;0\.500000;2\.000000;0\.000000;10\.000000$")
        self.assertEqual(results["fileserver1!refused"], (2, f"TCP CRITICAL - Connection refused on 127.0.0.1 port "
                                                             f"{refused}", []))


if __name__ == "__main__":
    unittest.main(warnings="ignore")

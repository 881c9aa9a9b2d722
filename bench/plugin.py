#!/usr/bin/python3
"""check_ostrel beside check_tcp as a monitoring engine starts each: the plugin itself, no shell.

1. The same loop, alternating: each round starts check_ostrel, check_tcp and the calling sequence in plugin mode
   (/usr/bin/env OSTREL_EXIT_STATUS=plugin ostrel ..., the form before check_ostrel) against an open loopback port,
   in an order that rotates from round to round; CPU (user + system) of each check from wait4(), wall time too.
   Ratios are medians of the per-round ratios.
2. Debian's Nagios with a private configuration and 200 loopback services checked every second, once with
   check_tcp and once with check_ostrel, alternating; the CPU of the engine with all it starts (a cpuacct cgroup of
   its own), the number of checks (one performance-data line each), and the latency the engine reports.
The machine's load average is printed with the figures. As root.
Usage: bench/plugin.py [build/bin] [rounds] [seconds per engine run]   (default: build/bin, 300, 40)
"""
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

CHECK_TCP = "/usr/lib/nagios/plugins/check_tcp"
CGROUP = "/sys/fs/cgroup/cpuacct/ostrel-bench"


def serve(server):
    while True:
        try:
            server.accept()[0].close()
        except OSError:
            return


def one_check(argv):
    """CPU and wall seconds of one plugin run, its output on the null device, as an engine's worker starts it."""
    null = os.open(os.devnull, os.O_WRONLY)
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, {"PATH": "/usr/bin:/bin"},
                         file_actions=[(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)])
    usage = os.wait4(pid, 0)[2]
    os.close(null)
    return usage.ru_utime + usage.ru_stime, time.perf_counter() - start


def load():
    return open("/proc/loadavg").read().split()[0]


def loop(folder, port, rounds):
    forms = {"check_ostrel": [os.path.join(folder, "check_ostrel"), "-H", "127.0.0.1", "-p", str(port)],
             "check_tcp": [CHECK_TCP, "-H", "127.0.0.1", "-p", str(port)],
             "sequence": ["/usr/bin/env", "OSTREL_EXIT_STATUS=plugin", os.path.join(folder, "ostrel"),
                          f"127.0.0.1,{port},5"]}
    names = list(forms)
    cpu, wall = {name: [] for name in names}, {name: [] for name in names}
    print(f"1. {rounds} rounds, load average {load()} before", flush=True)
    for index in range(rounds):
        for name in names[index % 3:] + names[:index % 3]:
            used, took = one_check(forms[name])
            cpu[name].append(used)
            wall[name].append(took)
    print(f"   load average {load()} after")
    print("   | form | CPU per check | wall per check | CPU / check_tcp's |\n   |---|---|---|---|")
    for name in names:
        ratio = statistics.median(a / b for a, b in zip(cpu[name], cpu["check_tcp"]) if b)
        print(f"   | {name} | {statistics.median(cpu[name]) * 1000:.2f} ms | "
              f"{statistics.median(wall[name]) * 1000:.2f} ms | {ratio:.2f}× |")


def engine_run(folder, plugin, port, seconds):
    """CPU seconds of the engine with all it started, checks done, mean and highest latency, for one run."""
    work = tempfile.mkdtemp(prefix="ostrel-bench-nagios-")
    os.chmod(work, 0o777)
    command = f"{plugin} -H '$HOSTADDRESS$' -p '$ARG1$'"
    services = "".join(f"define service {{\n host_name loopback\n service_description s{i}\n check_command p!{port}\n"
                       " check_interval 1\n retry_interval 1\n max_check_attempts 1\n check_period always\n"
                       " notifications_enabled 0\n}\n" for i in range(200))
    days = "".join(f" {day} 00:00-24:00\n" for day in ("sunday", "monday", "tuesday", "wednesday", "thursday",
                                                        "friday", "saturday"))
    with open(os.path.join(work, "objects.cfg"), "w") as file:
        file.write(f"define command {{\n command_name p\n command_line {command}\n}}\n"
                   f"define timeperiod {{\n timeperiod_name always\n alias always\n{days}}}\n"
                   "define contact {\n contact_name nobody\n host_notifications_enabled 0\n"
                   " service_notifications_enabled 0\n host_notification_period always\n service_notification_period"
                   " always\n host_notification_options n\n service_notification_options n\n"
                   " host_notification_commands p\n service_notification_commands p\n}\n"
                   "define host {\n host_name loopback\n address 127.0.0.1\n max_check_attempts 1\n"
                   " check_period always\n notifications_enabled 0\n active_checks_enabled 0\n}\n" + services)
    settings = {"log_file": "nagios.log", "cfg_file": "objects.cfg", "status_file": "status.dat",
                "check_result_path": ".", "lock_file": "nagios.lock", "temp_file": "nagios.tmp", "temp_path": ".",
                "object_cache_file": "objects.cache", "precached_object_file": "objects.pre",
                "query_socket": "nagios.qh", "service_perfdata_file": "perfdata"}
    with open(os.path.join(work, "nagios.cfg"), "w") as file:
        file.write("".join(f"{key}={work}/{value}\n" for key, value in settings.items()))
        file.write("interval_length=1\nstatus_update_interval=1\nretain_state_information=0\nuse_syslog=0\n"
                   "check_external_commands=0\nenable_notifications=0\nnagios_user=nagios\nnagios_group=nagios\n"
                   "process_performance_data=1\nservice_perfdata_file_template=x\nservice_perfdata_file_mode=a\n"
                   "check_result_reaper_frequency=1\n")
    usage = os.path.join(CGROUP, "cpuacct.usage")
    before = int(open(usage).read())
    engine = subprocess.Popen(["sh", "-c", f'echo $$ > {CGROUP}/cgroup.procs && exec /usr/sbin/nagios4 "$0"',
                               os.path.join(work, "nagios.cfg")], stdout=subprocess.PIPE, text=True)
    time.sleep(seconds)
    if engine.poll() is not None:
        sys.exit("the engine ended: " + engine.communicate()[0][-2000:])
    status = open(os.path.join(work, "status.dat")).read()
    engine.terminate()
    engine.communicate(timeout=30)
    for _ in range(50):  # its workers end after it
        if not open(os.path.join(CGROUP, "cgroup.procs")).read().strip():
            break
        time.sleep(0.1)
    used = (int(open(usage).read()) - before) / 1e9
    checks = sum(1 for _ in open(os.path.join(work, "perfdata")))
    latencies = [float(value) for value in re.findall(r"check_latency=([\d.]+)", status)]
    shutil.rmtree(work, ignore_errors=True)
    return used, checks, statistics.mean(latencies), max(latencies)


def main():
    folder = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..",
                                                                                  "build", "bin"))
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 40
    server = socket.create_server(("127.0.0.1", 0), backlog=256)
    threading.Thread(target=serve, args=(server,), daemon=True).start()
    port = server.getsockname()[1]
    loop(folder, port, rounds)
    # The engine runs as its own user: the plugin from a folder it may read.
    plugins = tempfile.mkdtemp(prefix="ostrel-bench-")
    os.chmod(plugins, 0o755)
    plugin = {"check_tcp": CHECK_TCP, "check_ostrel": shutil.copy(os.path.join(folder, "check_ostrel"), plugins)}
    os.makedirs(CGROUP, exist_ok=True)
    print(f"2. Nagios, 200 services every second, {seconds} s a run; load average {load()} before", flush=True)
    totals = {name: [0.0, 0, [], 0.0] for name in plugin}
    try:
        for name in ("check_tcp", "check_ostrel", "check_ostrel", "check_tcp"):
            used, checks, mean, highest = engine_run(folder, plugin[name], port, seconds)
            totals[name][0] += used
            totals[name][1] += checks
            totals[name][2].append(mean)
            totals[name][3] = max(totals[name][3], highest)
    finally:
        os.rmdir(CGROUP)
    print(f"   load average {load()} after")
    print("   | plugin | checks | CPU per check (engine and plugin) | mean latency | highest latency |\n"
          "   |---|---|---|---|---|")
    for name, (used, checks, means, highest) in totals.items():
        print(f"   | {name} | {checks} | {used / checks * 1000:.2f} ms | {statistics.mean(means) * 1000:.0f} ms | "
              f"{highest * 1000:.0f} ms |")
    print(f"   check_ostrel / check_tcp: {totals['check_ostrel'][0] / totals['check_ostrel'][1] / (totals['check_tcp'][0] / totals['check_tcp'][1]):.2f}×")
    server.close()


if __name__ == "__main__":
    main()

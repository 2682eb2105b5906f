"""What the benchmark scripts read of the server's process."""


def rss_kib(pid):
    """The resident memory of process pid, in KiB (0 when /proc does not say)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0

#!/usr/bin/env python3
# Compare velnor-cli CSV export/import against the sqlite3 shell on the
# stand-in's own SQLite file, and record velnor-cli's peak RSS per run.
#
# Usage: bench/csv-compare.py [--build DIR] [--reps N] [--rows N,N] [--cases C,C] [--keep]
#   --build DIR  build tree holding app/velnor-cli and ocisqlite/ocisqlite-admin
#                (default: <repo>/build)
#   --reps N     timed repetitions per case; the fastest is reported (default 5)
#   --rows N,N   table sizes, multiples of 100000 (default 300000,1000000)
#   --cases C,C  plain: NUMBER(10) key and DATE; wide: NUMBER(19) key and TIMESTAMP
#   --keep       leave the temp home in place and print its path
# Needs: python3 (standard library only) and the sqlite3 shell on PATH.

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

COLS = "ID NUMBER(10) NOT NULL, NAME VARCHAR2(30), AMOUNT NUMBER(12,2), CREATED DATE"


GNU_TIME = "/usr/bin/time"


def run(argv, env=None, stdin=None, stdout=None, rss=False):
    """Run a child; return (wall seconds, peak RSS KiB)."""
    rssfile = None
    if rss and os.access(GNU_TIME, os.X_OK):
        # Linux keeps the forking process's RSS high-water mark across exec,
        # so wait4 would report at least this Python's RSS; GNU time forks
        # from a small image and reports the real child figure.
        fd, rssfile = tempfile.mkstemp(prefix="csvbench-rss-")
        os.close(fd)
        argv = [GNU_TIME, "-f", "%M", "-o", rssfile] + argv
    fin = open(stdin, "rb") if stdin else subprocess.DEVNULL
    fout = open(stdout, "wb") if stdout else subprocess.DEVNULL
    try:
        t0 = time.perf_counter()
        p = subprocess.Popen(argv, env=env, stdin=fin, stdout=fout,
                             stderr=subprocess.PIPE)
        # wait4 gives this child's rusage alone, unlike RUSAGE_CHILDREN's
        # running maximum over every child so far.
        _, status, ru = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
        err = p.stderr.read().decode(errors="replace")
        p.stderr.close()
    finally:
        if stdin:
            fin.close()
        if stdout:
            fout.close()
    if p.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (p.returncode, " ".join(argv), err))
    maxrss = ru.ru_maxrss
    if rssfile:
        with open(rssfile) as f:
            maxrss = int(f.read().split()[-1])
        os.unlink(rssfile)
    return wall, maxrss


def sql(admin, home, text):
    p = subprocess.run([admin, home, "sql", "DEMO", "SCOTT"], input=text.encode(),
                       capture_output=True)
    if p.returncode != 0:
        sys.exit("sql failed: %s\n%s" % (text[:200], p.stderr.decode(errors="replace")))


def count(db, table):
    out = subprocess.run(["sqlite3", db, 'select count(*) from "%s"' % table],
                         capture_output=True, check=True)
    return int(out.stdout)


def best(samples):
    # Fastest time (least disturbed by other load), but the worst peak RSS.
    return min(s[0] for s in samples), max(s[1] for s in samples)


# Each case: (table, columns as the stand-in declares them, the same columns for the
# sqlite3 shell's table, INSERT ... SELECT expression list over BIG_TABLE).
PLAIN = ("BIG", COLS,
         '"ID" NUMERIC NOT NULL, "NAME" TEXT, "AMOUNT" NUMERIC, "CREATED" TEXT',
         "ID + %d, NAME, AMOUNT, CREATED")
# Exact 19-digit keys (beyond a double's 15-16 digits) and microsecond timestamps.
WIDE = ("WIDE", "ID NUMBER(19) NOT NULL, NAME VARCHAR2(30), AMOUNT NUMBER(12,2), "
        "CREATED TIMESTAMP(6)",
        '"ID" NUMERIC NOT NULL, "NAME" TEXT, "AMOUNT" NUMERIC, "CREATED" TEXT',
        "9000000000000000000 + (ID + %d) * 7919, NAME, AMOUNT, "
        "TO_TIMESTAMP(TO_CHAR(CREATED, 'YYYY-MM-DD HH24:MI:SS') || '.' || "
        "LPAD(MOD(ID * 7919, 1000000), 6, '0'), 'YYYY-MM-DD HH24:MI:SS.FF6')")

EXPORT_TARGET = 1.5  # sqlite3 -csv time / velnor-cli export time
IMPORT_TARGET = 1.0  # sqlite3 .import time / velnor-cli import time
EXPORT_RSS_MIB = 16.0


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description="velnor-cli vs sqlite3 shell CSV benchmark")
    ap.add_argument("--build", default=os.path.join(here, "build"))
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--rows", default="300000,1000000",
                    help="comma-separated row counts, multiples of 100000")
    ap.add_argument("--cases", default="plain,wide",
                    help="plain (NUMBER(10) key, DATE) and/or wide (NUMBER(19) key, TIMESTAMP)")
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    sizes = [int(n) for n in a.rows.split(",")]
    if any(n <= 0 or n % 100000 for n in sizes):
        sys.exit("--rows: multiples of 100000 only")
    shapes = {"plain": PLAIN, "wide": WIDE}
    cases = [shapes[c] for c in a.cases.split(",") if c in shapes]
    if not cases:
        sys.exit("--cases: plain and/or wide")

    cli = os.path.join(a.build, "app", "velnor-cli")
    admin = os.path.join(a.build, "ocisqlite", "ocisqlite-admin")
    for tool in (cli, admin):
        if not os.access(tool, os.X_OK):
            sys.exit("missing %s" % tool)
    if not shutil.which("sqlite3"):
        sys.exit("sqlite3 shell not on PATH")

    tmp = tempfile.mkdtemp(prefix="csvbench-")
    try:
        home = os.path.join(tmp, "home")
        reg = os.path.join(tmp, "reg")
        os.makedirs(reg)
        subprocess.run([admin, home, "init"], check=True, capture_output=True)
        subprocess.run([admin, home, "demo"], check=True, capture_output=True)
        db = os.path.join(home, "oradata", "DEMO", "SCOTT.db")
        env = dict(os.environ, ORACLE_HOME=home, VELNOR_PASSWORD="TIGER",
                   VELNOR_REGISTRY_DIR=reg)
        logon = [cli, "--logon", "SCOTT@DEMO"]

        # Let the engine build the tables so its ocisqlite$ metadata stays right.
        tables = []  # (table, rows, shape)
        for shape in cases:
            prefix, cols, _, select = shape
            for n in sizes:
                table = "%s_%dK" % (prefix, n // 1000)
                stmts = ["CREATE TABLE %s (%s)" % (table, cols)]
                for i in range(n // 100000):
                    stmts.append("INSERT INTO %s SELECT %s FROM BIG_TABLE"
                                 % (table, select % (i * 100000)))
                sql(admin, home, ";\n".join(stmts) + ";\n")
                if count(db, table) != n:
                    sys.exit("%s: expected %d rows" % (table, n))
                tables.append((table, n, shape))

        rows = []  # (case, rows, velnor s, velnor bytes, sqlite3 s, sqlite3 bytes, rss KiB)
        for table, n, _ in tables:
            vfile = os.path.join(tmp, table + ".velnor.csv")
            sfile = os.path.join(tmp, table + ".sqlite3.csv")
            v = best([run(logon + ["export", table, vfile], env=env, rss=True)
                      for _ in range(a.reps)])
            s = best([run(["sqlite3", "-csv", db, 'select * from "%s"' % table],
                          stdout=sfile) for _ in range(a.reps)])
            rows.append(("export " + table, n, v[0], os.path.getsize(vfile),
                         s[0], os.path.getsize(sfile), v[1]))

        # Import each velnor export back; a fresh empty table per repetition so each
        # run pays the same insert cost.
        for table, n, shape in tables:
            _, cols, shell_cols, _ = shape
            src = os.path.join(tmp, table + ".velnor.csv")
            copies = ["%s_C%d" % (table, i) for i in range(a.reps)]
            sql(admin, home, ";\n".join(
                "CREATE TABLE %s (%s, PRIMARY KEY (ID))" % (c, cols) for c in copies) + ";\n")
            vs = []
            for c in copies:
                vs.append(run(logon + ["import", c, src], env=env, rss=True))
                if count(db, c) != n:
                    sys.exit("velnor import row count mismatch in %s" % c)
            # Nothing lost: the first copy exports to the very bytes it was read from.
            back = os.path.join(tmp, table + ".back.csv")
            run(logon + ["export", copies[0], back], env=env)
            with open(src, "rb") as f1, open(back, "rb") as f2:
                if f1.read() != f2.read():
                    sys.exit("%s: the imported copy exports differently" % table)
            os.unlink(back)
            v = best(vs)
            sql(admin, home, ";\n".join("DROP TABLE %s" % c for c in copies) + ";\n")

            # Same shape as the stand-in's table: numeric/text affinities and a PK.
            ss = []
            for i in range(a.reps):
                scratch = os.path.join(tmp, "scratch%d.db" % i)
                if os.path.exists(scratch):
                    os.unlink(scratch)
                subprocess.run(["sqlite3", scratch, "CREATE TABLE T2 (%s, PRIMARY KEY (\"ID\"))"
                                % shell_cols], check=True)
                ss.append(run(["sqlite3", scratch, ".import --csv --skip 1 %s T2" % src]))
                if count(scratch, "T2") != n:
                    sys.exit("sqlite3 import row count mismatch")
                os.unlink(scratch)
            s = best(ss)
            size = os.path.getsize(src)
            rows.append(("import " + table, n, v[0], size, s[0], size, v[1]))

        mib = 1024.0 * 1024.0
        print("%-19s %9s %10s %12s %8s %10s %12s %8s %7s %8s" % (
            "case", "rows", "velnor s", "velnor r/s", "MB/s", "sqlite3 s",
            "sqlite3 r/s", "MB/s", "ratio", "RSS MiB"))
        missed = []
        for case, n, vt, vb, st, sb, rss in rows:
            ratio = st / vt
            target = EXPORT_TARGET if case.startswith("export") else IMPORT_TARGET
            mark = "" if ratio >= target else "  < %.1f" % target
            if mark:
                missed.append(case)
            print("%-19s %9d %10.3f %12.0f %8.1f %10.3f %12.0f %8.1f %7.2f %8.1f%s" % (
                case, n, vt, n / vt, vb / mib / vt, st, n / st, sb / mib / st,
                ratio, rss / 1024.0, mark))
        print("ratio = sqlite3 time / velnor time (targets: export >= %.1f, import >= %.1f)"
              % (EXPORT_TARGET, IMPORT_TARGET))
        for verb in ("export", "import"):
            for shape in cases:
                peaks = [(r[1], r[6] / 1024.0) for r in rows
                         if r[0].startswith(verb + " " + shape[0] + "_")]
                print("peak RSS %s %s: %s%s" % (
                    verb, shape[0], ", ".join("%.1f MiB at %d rows" % (m, n) for n, m in peaks),
                    " (target <= %.0f, flat)" % EXPORT_RSS_MIB if verb == "export" else
                    " (target: flat)"))
                if verb == "export" and any(m > EXPORT_RSS_MIB for _, m in peaks):
                    missed.append("export RSS " + shape[0])
        print("targets missed: " + (", ".join(missed) if missed else "none"))
        if not os.access(GNU_TIME, os.X_OK):
            floor = run(["true"])[1] / 1024.0
            print("note: RSS via wait4; figures are floored at this script's own %.1f MiB"
                  % floor)
        if a.keep:
            print("kept", tmp)
    finally:
        if not a.keep:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()

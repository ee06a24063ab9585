#!/usr/bin/env python3
# Compare velnor-cli CSV export/import against the sqlite3 shell on the
# stand-in's own SQLite file, and record velnor-cli's peak RSS per run.
#
# Usage: bench/csv-compare.py [--build DIR] [--reps N] [--keep]
#   --build DIR  build tree holding app/velnor-cli and ocisqlite/ocisqlite-admin
#                (default: <repo>/build)
#   --reps N     timed repetitions per case; the fastest is reported (default 5)
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


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description="velnor-cli vs sqlite3 shell CSV benchmark")
    ap.add_argument("--build", default=os.path.join(here, "build"))
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()

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

        # Let the engine build the big table so its ocisqlite$ metadata stays right.
        stmts = ["CREATE TABLE BIG_1M (%s)" % COLS]
        for i in range(10):
            stmts.append("INSERT INTO BIG_1M SELECT ID + %d, NAME, AMOUNT, CREATED "
                         "FROM BIG_TABLE" % (i * 100000))
        sql(admin, home, ";\n".join(stmts) + ";\n")

        tables = [("BIG_TABLE", count(db, "BIG_TABLE")), ("BIG_1M", count(db, "BIG_1M"))]
        rows = []  # (case, rows, velnor s, velnor bytes, sqlite3 s, sqlite3 bytes, rss KiB)

        for table, n in tables:
            vfile = os.path.join(tmp, table + ".velnor.csv")
            sfile = os.path.join(tmp, table + ".sqlite3.csv")
            v = best([run(logon + ["export", table, vfile], env=env, rss=True) for _ in range(a.reps)])
            s = best([run(["sqlite3", "-csv", db, 'select * from "%s"' % table],
                          stdout=sfile) for _ in range(a.reps)])
            rows.append(("export " + table, n, v[0], os.path.getsize(vfile),
                         s[0], os.path.getsize(sfile), v[1]))

        # Import each velnor export back; a fresh empty table per repetition so each
        # run pays the same insert cost.
        for table, n in tables:
            src = os.path.join(tmp, table + ".velnor.csv")
            copies = ["%s_COPY%d" % (table, i) for i in range(a.reps)]
            sql(admin, home, ";\n".join(
                "CREATE TABLE %s (%s, PRIMARY KEY (ID))" % (c, COLS) for c in copies) + ";\n")
            vs = []
            for c in copies:
                vs.append(run(logon + ["import", c, src], env=env, rss=True))
                if count(db, c) != n:
                    sys.exit("velnor import row count mismatch in %s" % c)
            v = best(vs)
            sql(admin, home, ";\n".join("DROP TABLE %s" % c for c in copies) + ";\n")

            # Same shape as the stand-in's table: numeric/text affinities and a PK.
            ss = []
            for i in range(a.reps):
                scratch = os.path.join(tmp, "scratch%d.db" % i)
                if os.path.exists(scratch):
                    os.unlink(scratch)
                subprocess.run(["sqlite3", scratch,
                                'CREATE TABLE T2 ("ID" NUMERIC NOT NULL, "NAME" TEXT, '
                                '"AMOUNT" NUMERIC, "CREATED" TEXT, PRIMARY KEY ("ID"))'],
                               check=True)
                ss.append(run(["sqlite3", scratch, ".import --csv --skip 1 %s T2" % src]))
                if count(scratch, "T2") != n:
                    sys.exit("sqlite3 import row count mismatch")
            s = best(ss)
            size = os.path.getsize(src)
            rows.append(("import " + table, n, v[0], size, s[0], size, v[1]))

        mib = 1024.0 * 1024.0
        print("%-17s %9s %10s %12s %8s %10s %12s %8s %7s %8s" % (
            "case", "rows", "velnor s", "velnor r/s", "MB/s", "sqlite3 s",
            "sqlite3 r/s", "MB/s", "ratio", "RSS MiB"))
        for case, n, vt, vb, st, sb, rss in rows:
            print("%-17s %9d %10.3f %12.0f %8.1f %10.3f %12.0f %8.1f %7.2f %8.1f" % (
                case, n, vt, n / vt, vb / mib / vt, st, n / st, sb / mib / st,
                st / vt, rss / 1024.0))
        print("ratio = sqlite3 time / velnor time (targets: export >= 1.0, import >= 0.7)")
        for verb, first in (("export", 0), ("import", 2)):
            r1, r2 = rows[first], rows[first + 1]
            print("peak RSS %s: %.1f MiB at %d rows, %.1f MiB at %d rows (target <= 64, flat)"
                  % (verb, r1[6] / 1024.0, r1[1], r2[6] / 1024.0, r2[1]))
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

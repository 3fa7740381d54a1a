# The report of scripts/bench.sh, from lines
#   median <figure> <ns per event> <runs> <lower quartile> <upper quartile>
#   mem <figure> <events> <bytes after warm-up> <bytes after the events> <largest step between samples>
#   error <text>
# Holds the goals. Exits 1 when a figure is missing or a program reported an error.
function have(key) { if (key in med) return 1; print "  " key ": no figure"; broken = 1; return 0 }
function ns(key) { return sprintf("%10.1f ns/event  (median of %d)", med[key], runs[key]) }
function verdict(ok, text) {
  if (ok) { met++; return "met (" text ")" }
  missed++
  return "MISSED (" text ")"
}
function abs(x) { return x < 0 ? -x : x }
function kib(x) { return sprintf("%+.0f KiB", x / 1024) }
# Growth of `key` against the noise of `base`: the larger of the baseline's own
# growth over the same events, its largest step between samples, one page.
function memory(label, key, base,    growth, noise) {
  if (!(key in after) || !(base in after)) { print "  " label ": no figure"; broken = 1; return }
  growth = after[key] - before[key]
  noise = abs(after[base] - before[base])
  if (step[base] > noise) noise = step[base]
  if (4096 > noise) noise = 4096
  printf "  %-34s %.1f MiB after warm-up, growth %s over %d events; noise %s\n", label,
         before[key] / 1048576, kib(growth), events[key], kib(noise)
  printf "  %-34s %s\n", "", verdict(growth <= noise, "goal: growth within noise")
}
# A figure against its limit: both lines and the ratio's verdict.
function ratio(label, key, baseLabel, base, goal,    r) {
  if (!have(key) || !have(base)) return
  r = med[key] / med[base]
  printf "  %-32s %s\n  %-32s %s\n", label, ns(key), baseLabel, ns(base)
  printf "  ratio %.3f: %s\n", r, verdict(r <= goal, "goal <= " goal)
}
$1 == "median" { med[$2] = $3; runs[$2] = $4; low[$2] = $5; high[$2] = $6 }
$1 == "mem" { events[$2] = $3; before[$2] = $4; after[$2] = $5; step[$2] = $6 }
$1 == "error" { sub(/^error /, ""); errors = errors "  ERROR: " $0 "\n"; broken = 1 }
END {
  print "(a) sink decode under Wine: JogMove, two VT_I4, into a do-nothing receiver"
  ratio("library sink Invoke", "decode.sink", "bare hand-written IDispatch", "decode.bare", 1.5)
  print "(b) whole path under Wine: JogMove through Dravlo.dll into a Java listener on the JVM stand-in"
  if (have("path.library") && have("path.firing") && have("path.direct") && have("path.ours")) {
    printf "  %-32s %s\n", "through the library", ns("path.library")
    printf "  %-32s %s\n", "device firing, bare sink", ns("path.firing")
    printf "  %-32s %s\n", "stand-in calls made directly", ns("path.direct")
    printf "  our work per event (library - firing - direct, per round of the three) %.1f ns, quartiles %.1f to %.1f ns over %d rounds: %s\n",
           med["path.ours"], low["path.ours"], high["path.ours"], runs["path.ours"],
           verdict(high["path.ours"] <= 600, "goal <= 600 ns, upper quartile")
  }
  print "(c) real JVM, host preset: event forwarding against the same JNI sequence by hand"
  ratio("fresh thread per event, library", "jvm.fresh.library", "fresh thread per event, by hand", "jvm.fresh.hand", 1.05)
  ratio("attached thread, library", "jvm.attached.library", "attached thread, by hand", "jvm.attached.hand", 1.05)
  print "(d) memory, past a warm-up, before and after the events (noise: the larger of the baseline's growth over the same events, its largest step between ten samples, one page)"
  memory("Wine private bytes, sink decode", "decode.sink", "decode.bare")
  # The stand-in keeps a record of every JNI reference ever made (it never
  # reuses a handle, to catch stale ones), so it grows with each event by
  # design: shown per event against the direct calls, not judged.
  if (("path.library" in after) && ("path.direct" in after))
    printf "  %-34s %.0f B/event through the library, %.0f B/event direct (the JVM stand-in's own records; not judged)\n",
           "Wine private bytes, whole path", (after["path.library"] - before["path.library"]) / events["path.library"],
           (after["path.direct"] - before["path.direct"]) / events["path.direct"]
  memory("real JVM resident set, attached", "jvm.library", "jvm.hand")
  printf "%s", errors
  printf "goals: %d met, %d missed%s\n", met, missed, broken ? "; some figures could not be taken" : ""
  exit broken ? 1 : 0
}

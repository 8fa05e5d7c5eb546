#!/bin/sh
# Learns the shipped racing lines of the generated tracks through the game's own line
# store: a bootstrap rider (kessra-sim's test controller, a non-robot rider with learning
# on) rides laps at the pace and across-the-gate offsets of each skill, then robots race
# on what it left with learning on, so that the statistics learn which lines work.
#
#   learn_lines.sh SIM DATA CACHE TRACK...
#
# Leaves DATA/TRACK/lines_novice, lines_amateur and lines_expert. Every run has a fixed
# seed, so the result depends only on the program, the data and this script; it is kept
# in CACHE under a key made of those, and an unchanged rebuild only copies it.
set -eu

# Raise when a change to the physics or the autopilot should relearn the lines.
generator_version=4

if [ $# -lt 4 ]; then
  echo "usage: $0 SIM DATA CACHE TRACK..." >&2
  exit 2
fi
sim=$1
data=$2
cache=$3
shift 3

script=$0
skills="novice amateur expert"

# The bootstrap rider's pace per skill, and the offsets across the gates it rides at, one
# run of three laps each (the last normal-lap stretch is kept only at the next lap), so that the records get more than one line.
pace_of() {
  case $1 in
    novice) echo 0.6 ;;
    amateur) echo 0.7 ;;
    expert) echo 0.8 ;;
  esac
}
offsets="0 -0.35 0.35 -0.2 0.2 -0.5 0.5 0.1"
# The starting gate slot of each run: robots fill the gate from slot 0 outwards, and a
# robot picks the first stretch that starts nearest to it, so the lines out of the gate
# have to start across it (from one slot, the whole field funnels onto one line).
gates="0 10 5 15 2 18 7 13"

# The lineup that puts the controller alone into gate slot $1.
lineup_at() {
  awk -v g="$1" 'BEGIN { s = ""; for (i = 0; i < g; i++) s = s "0,"; print s "1" }'
}
min_runs=4

# Records of a lines file that hold no line (a robot stops where its lines run out).
empty_records() {
  awk 'NR == 1 { records = $2; r = 0; want = "count"; next }
       want == "count" { if ($1 == 0) empty++; left = $1; r++; want = left > 0 ? "line" : "count"; next }
       want == "line" { points = $1; want = points > 0 ? "point" : (--left > 0 ? "line" : "count"); next }
       want == "point" { if (--points == 0) want = (--left > 0 ? "line" : "count"); next }
       END { print empty + records - r }' "$1"
}

key_of() {
  track=$1
  {
    echo "version $generator_version"
    cat "$script"
    cat "$data/zzzz.saf" "$data/$track.saf" 2>/dev/null || true
  } | sha256sum | cut -c1-16
}

learn_track() {
  track=$1
  out=$2
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  # The game reads a track's lines from the data when the home has none, so lines left
  # there by an earlier build would be learned on, and the result would depend on them.
  for skill in $skills; do
    rm -f "$data/$track/lines_$skill"
  done
  for skill in $skills; do
    pace=$(pace_of "$skill")
    run=0
    for offset in $offsets; do
      # Slower and slower while a record is still empty after the first runs: a stretch
      # whose jump bottoms the bike out is kept only when ridden cleanly.
      if [ $run -ge $min_runs ] && [ "$(empty_records "$home/$track/lines_$skill")" -eq 0 ]; then
        break
      fi
      p=$(awk -v p="$pace" -v r="$run" 'BEGIN { printf "%.2f", p * (1 - 0.03 * r) }')
      gate=$(echo $gates | cut -d' ' -f$((run + 1)))
      "$sim" --quiet --data "$data" --home "$home" --track "$track" --lineup "$(lineup_at "$gate")" --learn \
        --laps 3 --skill "$skill" --pace "$p" --offset "$offset" --seed "$run" \
        --max-seconds 900 >/dev/null
      run=$((run + 1))
    done
    # Robots pass over a record without lines, so a few gaps are no failure.
    gaps=$(empty_records "$home/$track/lines_$skill")
    [ "$gaps" -eq 0 ] || echo "learn_lines: $track, $skill: $gaps stretches without a line" >&2
    # Robots race on the bootstrap lines and the store learns which of them work.
    "$sim" --quiet --data "$data" --home "$home" --track "$track" --robots 8 --learn \
      --laps 2 --skill "$skill" --seed 31 --max-seconds 600 >/dev/null
    if [ ! -s "$home/$track/lines_$skill" ]; then
      echo "learn_lines: no lines_$skill learned on $track" >&2
      exit 1
    fi
    cp "$home/$track/lines_$skill" "$out/lines_$skill"
  done
  rm -rf "$home"
  trap - EXIT
}

mkdir -p "$cache"
for track in "$@"; do
  key=$(key_of "$track")
  kept="$cache/$track-$key"
  if [ ! -s "$kept/lines_expert" ]; then
    rm -rf "$kept.tmp"
    mkdir -p "$kept.tmp"
    learn_track "$track" "$kept.tmp"
    rm -rf "$kept"
    mv "$kept.tmp" "$kept"
    # Older keys of this track are of no further use.
    for old in "$cache/$track"-*; do
      [ "$old" = "$kept" ] || rm -rf "$old"
    done
  fi
  mkdir -p "$data/$track"
  for skill in $skills; do
    cp "$kept/lines_$skill" "$data/$track/lines_$skill"
  done
done

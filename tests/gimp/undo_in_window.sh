#!/bin/sh
# One Ctrl+Z in GIMP's image window takes a straightening back whole.
#   undo_in_window.sh GIMP PLUGIN_DIR PHOTO WORK
# Runs GIMP with its interface on the display it is given (xvfb-run), on a
# throw-away profile. A Script-Fu batch command opens the photo as grey (so
# the run is two changes, grey to RGB and the pixels, which only one undo
# group makes one step), shows it, straightens it and saves it before and
# after, then waits for a flag file. Meanwhile this script presses Ctrl+Z
# once in the image window and sets the flag, and the batch command saves the
# photo again: it must be the grey photo it was, byte for byte.
set -eu
gimp=$1 plugins=$2 photo=$3 work=$4
rm -rf "$work"
mkdir -p "$work/profile"
for folder in brushes dynamics gradients palettes patterns tool-presets mypaint-brushes; do
  mkdir -p "$work/profile/$folder"
done
printf '(plug-in-path "%s:${gimp_plug_in_dir}/plug-ins")\n' "$plugins" > "$work/profile/gimprc"
export GIMP2_DIRECTORY="$work/profile"

save() { printf '(file-pnm-save RUN-NONINTERACTIVE image layer "%s" "%s" 1)' "$work/$1" "$work/$1"; }
# The undo stack is switched on after the conversion to grey, which is so
# not a step of its own. The display flush is what a menu run ends with: it
# makes Edit > Undo reflect the new step.
script="(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$photo\" \"$photo\")))
               (layer (car (gimp-image-get-active-drawable image))))
  (gimp-image-convert-grayscale image)
  (gimp-image-undo-enable image)
  (gimp-display-new image)
  $(save before.pgm)
  (plug-in-planora-straighten RUN-NONINTERACTIVE image layer 1646 154 693 487 653 1173 1746 1014 90 TRUE FALSE)
  (gimp-displays-flush)
  $(save after.pnm)
  (let wait () (if (= 0 (car (file-glob \"$work/undone\" 0))) (wait)))
  $(save undone.pnm))"

"$gimp" -n -d -f --no-splash --batch-interpreter plug-in-script-fu-eval -b "$script" -b "(gimp-quit 1)" \
  > "$work/gimp.log" 2>&1 &
gimp_pid=$!
finish() { touch "$work/undone"; kill "$gimp_pid" 2>/dev/null || true; }
trap finish EXIT

waited=0
until [ -s "$work/after.pnm" ]; do
  if ! kill -0 "$gimp_pid" 2>/dev/null || [ $waited -ge 300 ]; then
    echo "GIMP did not straighten the photo:"; cat "$work/gimp.log"; exit 1
  fi
  sleep 1; waited=$((waited + 1))
done
sleep 1  # the saver closes its file after writing the last byte
window=$(timeout 30 xdotool search --onlyvisible --name 'poster' | head -1)
if [ -z "$window" ]; then echo "no image window of GIMP's on the display"; exit 1; fi
timeout 30 xdotool windowfocus --sync "$window" || { echo "GIMP's image window did not take the focus"; exit 1; }
timeout 30 xdotool key --clearmodifiers ctrl+z
# The undo is handled in GIMP's own main loop; the window's title names the
# image's mode, grey again once the whole run is taken back. A second step
# left on the stack keeps it RGB, and the comparison below says so.
waited=0
until timeout 10 xdotool getwindowname "$window" | grep -qi grayscale || [ $waited -ge 60 ]; do
  sleep 1; waited=$((waited + 1))
done
touch "$work/undone"
waited=0
while kill -0 "$gimp_pid" 2>/dev/null && [ $waited -lt 120 ]; do sleep 1; waited=$((waited + 1)); done
trap - EXIT
wait "$gimp_pid" || true

if cmp -s "$work/before.pgm" "$work/after.pnm"; then
  echo "the straightening changed nothing"; exit 1
fi
if ! cmp -s "$work/before.pgm" "$work/undone.pnm"; then
  echo "one Ctrl+Z did not bring the grey photo back: the run is more than one undo step"
  cat "$work/gimp.log"; exit 1
fi
echo "one Ctrl+Z took the whole straightening back"

#!/bin/bash
# The same menu from bash: printf per line, then read.
mapfile -t keys <1.zvd
mapfile -t names <2.zvd
mapfile -t paths <3.zvd
printf '\e[H\e[2J'
for ((i = 0; i < ${#paths[@]} && i < 999; i++)); do
  key=${keys[i]}
  printf '%s para descargar %s\n' "${key:0:1}" "${names[i]%$'\r'}"
done
printf '\n'
printf '> '
read -r choice

# Chart of the benchmark's ratios, from the CSV the harness writes.
# usage: gnuplot -e "csv='results.csv'; conv='converter.csv'; png='results.png'; ffm=1" bench/plot.gp
# (ffm=0 when the run had no FFM rows)
set datafile separator ","
set datafile missing "NaN"
set key autotitle columnheader  # the first line that is not a comment names the columns
set terminal pngcairo size 1280,1400 font "sans,11"
set output png

set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set xtics rotate by -30 left nomirror
set key top left
set lmargin 12
set rmargin 4

set multiplot layout 3,1 title "JQelAgtMsg: cost of each native as ratios of ns per call (one run; median of per-round ratios)"

# The library's own overhead: 1.00 is the floor, the dashed line 5% above it;
# and the facade's over the library's raw calls.
set title "library / floor (the same JNI work with nothing added), and facade / library"
set ylabel "ratio"
set yrange [0.8:*]
set arrow 1 from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc rgb "black"
set arrow 2 from graph 0, first 1.05 to graph 1, first 1.05 nohead dt 2 lw 1.5 lc rgb "red"
set key top right
plot csv using 17:xtic(1) title "library / floor" lc rgb "#4477aa", \
     '' using ($0):17:(sprintf("%.2f", $17)) with labels offset 0,0.8 notitle, \
     '' using 18 title "facade / library" lc rgb "#66ccee"
unset arrow 1
unset arrow 2

# What users would pick instead, against the library: above 1 is slower.
set title "JNA and the foreign-function API against the library (log scale; above 1: slower than the library)"
set ylabel "mechanism / library"
set key top right
set logscale y
set autoscale y
set arrow 3 from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc rgb "black"
if (ffm) {
  plot csv using 19:xtic(1) title "JNA / library" lc rgb "#ee6677", \
       '' using 20 title "FFM / library" lc rgb "#228833"
} else {
  plot csv using 19:xtic(1) title "JNA / library (FFM: no JDK 22 or later)" lc rgb "#ee6677"
}
unset logscale y
unset arrow 3

# The converter library against the JVM's own string coding: at or below 1,
# it costs no more than the JVM's coding of the same text.
set title "converter / the JVM's own coding (from UTF: against GetStringUTFChars + Release; to UTF: against NewStringUTF)"
set ylabel "converter / JVM"
set yrange [0:*]
set arrow 4 from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc rgb "black"
unset key
plot conv using 8:xtic(1) lc rgb "#aa7733", \
     '' using ($0):8:(sprintf("%.2f", $8)) with labels offset 0,0.8 notitle
unset multiplot

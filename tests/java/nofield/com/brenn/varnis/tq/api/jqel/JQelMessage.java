package com.brenn.varnis.tq.api.jqel;

/** A JQelMessage without the field myQelDataString, as an outdated class might be. */
public class JQelMessage {
    static {
        System.loadLibrary("JQelAgtMsg");
    }

    public native int QelGetCMA(long handle, String name);
}

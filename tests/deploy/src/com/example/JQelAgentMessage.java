package com.example;

/** The right class and method in the wrong package: its JNI name is not the library's. */
public class JQelAgentMessage {
    static {
        System.loadLibrary("JQelAgtMsg");
    }

    public static native int QelAgtMessageSend(long handle);
}

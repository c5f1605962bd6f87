/**
 * The Java side of the native library {@code JQelAgtMsg}, through which a
 * program reaches the agent's programming interface.
 *
 * <p>{@link com.brenn.varnis.tq.api.jqel.JQelAgent} gives the agent's seven
 * operations to any number of threads, results as values and failures as
 * {@link com.brenn.varnis.tq.api.jqel.JQelException}. It calls the natives of
 * {@link com.brenn.varnis.tq.api.jqel.JQelAgentMessage}, {@link
 * com.brenn.varnis.tq.api.jqel.JQelMessage} and {@link
 * com.brenn.varnis.tq.api.jqel.JQelMonValue}, which return the agent's result
 * codes. {@link com.brenn.varnis.tq.api.jqel.JQelLibrary} loads the library
 * and says whether it is available.
 *
 * <p><b>Handles.</b> Every method takes the agent's native handle of a message
 * or monitor value as a {@code long}, as the agent gave it. The agent
 * receives it at pointer width: the low 32 bits in a 32-bit JVM, all 64 bits
 * in a 64-bit one. This library never looks inside it, nor makes, checks or
 * frees one.
 */
package com.brenn.varnis.tq.api.jqel;

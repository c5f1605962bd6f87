package jqel.doctor;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import javax.xml.XMLConstants;
import javax.xml.parsers.DocumentBuilder;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.parsers.ParserConfigurationException;
import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.w3c.dom.Node;
import org.xml.sax.SAXException;
import org.xml.sax.SAXParseException;
import org.xml.sax.helpers.DefaultHandler;

/**
 * A side-by-side manifest, a DLL's, a private assembly's or a publisher
 * policy's, read as the XML it is, in UTF-8 or in UTF-16 with its
 * byte-order mark, by the JDK's parser with DTDs and external entities off:
 * its own identity, the assemblies it depends on, and the versions it sends
 * others to.
 */
final class Manifest {
    /** A manifest that is no well-formed XML, which Windows refuses. */
    static final class Malformed extends Exception {
        private static final long serialVersionUID = 1L;

        Malformed(String message) {
            super(message, null, false, false);
        }
    }

    /** A publisher policy's bindingRedirect: versions {@code low} to {@code high} of an assembly go to {@code to}. */
    static final class Redirect {
        final Assembly of;
        final String low;
        final String high;
        final String to;

        Redirect(Assembly of, String oldVersion, String to) {
            this.of = of;
            String[] range = oldVersion.split("-", 2);
            this.low = range[0].trim();
            this.high = range[range.length - 1].trim();
            this.to = to;
        }

        boolean covers(String version) {
            return Assembly.compare(low, version) <= 0 && Assembly.compare(version, high) <= 0;
        }
    }

    /** Its own assemblyIdentity, or null if it has none (a DLL's manifest need not). */
    final Assembly identity;
    final List<Assembly> dependencies = new ArrayList<>();
    final List<Redirect> redirects = new ArrayList<>();

    private Manifest(Element root) {
        Element own = child(root, "assemblyIdentity");
        identity = own == null ? null : identity(own);
        for (Element dependency : children(root, "dependency")) {
            for (Element dependent : children(dependency, "dependentAssembly")) {
                Element named = child(dependent, "assemblyIdentity");
                if (named == null) {
                    continue;
                }
                Assembly assembly = identity(named);
                dependencies.add(assembly);
                for (Element redirect : children(dependent, "bindingRedirect")) {
                    redirects.add(new Redirect(assembly, redirect.getAttribute("oldVersion"), redirect.getAttribute("newVersion")));
                }
            }
        }
    }

    static Manifest parse(byte[] bytes) throws Malformed {
        try {
            DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
            factory.setNamespaceAware(true);
            factory.setFeature(XMLConstants.FEATURE_SECURE_PROCESSING, true);
            factory.setFeature("http://apache.org/xml/features/nonvalidating/load-external-dtd", false);
            factory.setFeature("http://xml.org/sax/features/external-general-entities", false);
            factory.setFeature("http://xml.org/sax/features/external-parameter-entities", false);
            factory.setXIncludeAware(false);
            factory.setExpandEntityReferences(false);
            DocumentBuilder builder = factory.newDocumentBuilder();
            // The parser's errors are thrown, not printed.
            builder.setErrorHandler(new DefaultHandler());
            Document document = builder.parse(new ByteArrayInputStream(bytes));
            return new Manifest(document.getDocumentElement());
        } catch (SAXParseException e) {
            throw new Malformed("line " + e.getLineNumber() + ", column " + e.getColumnNumber() + ": " + e.getMessage());
        } catch (SAXException | IOException e) {
            throw new Malformed(String.valueOf(e.getMessage()));
        } catch (ParserConfigurationException e) {
            throw new IllegalStateException("the JDK's XML parser lacks a feature it documents", e);
        }
    }

    private static Assembly identity(Element element) {
        return new Assembly(element.getAttribute("name"), element.getAttribute("type"), element.getAttribute("version"),
                element.getAttribute("processorArchitecture"), element.getAttribute("publicKeyToken"),
                element.getAttribute("language"));
    }

    /** The element's child elements of this local name, whatever their namespace prefix. */
    private static List<Element> children(Element parent, String name) {
        List<Element> found = new ArrayList<>();
        for (Node node = parent.getFirstChild(); node != null; node = node.getNextSibling()) {
            if (node instanceof Element && name.equals(localName(node))) {
                found.add((Element) node);
            }
        }
        return found;
    }

    private static Element child(Element parent, String name) {
        List<Element> found = children(parent, name);
        return found.isEmpty() ? null : found.get(0);
    }

    private static String localName(Node node) {
        return node.getLocalName() != null ? node.getLocalName() : node.getNodeName();
    }
}

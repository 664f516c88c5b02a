<?xml version="1.0" encoding="UTF-8"?>
<!--
  Normalizes a package manifest for the schema check: elements of every understood App-V
  namespace move to the output namespace, content of ignorable namespaces that are not
  understood disappears, comments and processing instructions are dropped.
  Namespace lists are written as "[uri][uri]..." so that one contains() test matches a URI.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" version="1.0" encoding="UTF-8"/>

  <xsl:param name="understoodNamespaces" select="''"/>
  <xsl:param name="outputNamespace" select="''"/>
  <xsl:param name="nsForIgnorableNamespace" select="''"/>

  <xsl:variable name="ignorableNamespaceList">
    <xsl:call-template name="resolvePrefixes">
      <xsl:with-param name="list"
          select="normalize-space(/*/@*[local-name() = 'IgnorableNamespaces'
                                         and namespace-uri() = $nsForIgnorableNamespace])"/>
    </xsl:call-template>
  </xsl:variable>
  <!-- As a string once, not as a tree fragment converted at every test. -->
  <xsl:variable name="ignorableNamespaces" select="string($ignorableNamespaceList)"/>

  <!-- Each prefix of a space-separated list, resolved on the root element, as "[uri]". -->
  <xsl:template name="resolvePrefixes">
    <xsl:param name="list"/>
    <xsl:if test="$list != ''">
      <xsl:variable name="prefix">
        <xsl:choose>
          <xsl:when test="contains($list, ' ')">
            <xsl:value-of select="substring-before($list, ' ')"/>
          </xsl:when>
          <xsl:otherwise>
            <xsl:value-of select="$list"/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:for-each select="/*/namespace::*[name() = $prefix]">
        <xsl:value-of select="concat('[', ., ']')"/>
      </xsl:for-each>
      <xsl:call-template name="resolvePrefixes">
        <xsl:with-param name="list" select="substring-after($list, ' ')"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <xsl:template match="/">
    <xsl:apply-templates select="*"/>
  </xsl:template>

  <xsl:template match="*">
    <xsl:variable name="key" select="concat('[', namespace-uri(), ']')"/>
    <xsl:choose>
      <xsl:when test="contains($understoodNamespaces, $key)">
        <xsl:element name="{local-name()}" namespace="{$outputNamespace}">
          <xsl:call-template name="content"/>
        </xsl:element>
      </xsl:when>
      <xsl:when test="not(contains($ignorableNamespaces, $key))">
        <xsl:copy>
          <xsl:call-template name="content"/>
        </xsl:copy>
      </xsl:when>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="content">
    <xsl:choose>
      <xsl:when test="not(parent::*)">
        <xsl:apply-templates select="@*" mode="root"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:apply-templates select="@*"/>
      </xsl:otherwise>
    </xsl:choose>
    <xsl:apply-templates select="node()"/>
  </xsl:template>

  <!-- Root attributes stay as they are, except the ignorable-namespace list itself. -->
  <xsl:template match="@*" mode="root">
    <xsl:if test="not(local-name() = 'IgnorableNamespaces' and namespace-uri() = $nsForIgnorableNamespace)">
      <xsl:copy/>
    </xsl:if>
  </xsl:template>

  <xsl:template match="@*">
    <xsl:variable name="key" select="concat('[', namespace-uri(), ']')"/>
    <xsl:variable name="ownerKey" select="concat('[', namespace-uri(..), ']')"/>
    <xsl:choose>
      <xsl:when test="namespace-uri() != '' and contains($understoodNamespaces, $key)">
        <xsl:choose>
          <xsl:when test="contains($understoodNamespaces, $ownerKey)">
            <xsl:attribute name="{local-name()}">
              <xsl:value-of select="."/>
            </xsl:attribute>
          </xsl:when>
          <xsl:otherwise>
            <xsl:attribute name="{local-name()}" namespace="{$outputNamespace}">
              <xsl:value-of select="."/>
            </xsl:attribute>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:when>
      <xsl:when test="not(contains($ignorableNamespaces, $key))">
        <xsl:copy/>
      </xsl:when>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="text()">
    <xsl:copy/>
  </xsl:template>

  <xsl:template match="comment() | processing-instruction()"/>
</xsl:stylesheet>

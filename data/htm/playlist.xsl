<?xml version="1.0" encoding="UTF-8"?>
<!-- The printable playlist: what may play now, in play order, grouped by category. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:date="http://exslt.org/dates-and-times" exclude-result-prefixes="date">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:template match="/playlist">
    <html>
      <head><title>Tonewell playlist</title></head>
      <body>
        <h1>Tonewell playlist</h1>
        <p><i>Made <xsl:value-of select="substring(date:date-time(), 1, 10)"/> at
          <xsl:value-of select="substring(date:date-time(), 12, 5)"/>.
          These are the tracks that may play at that moment.</i></p>
        <h2>Voice messages</h2>
        <xsl:apply-templates select="voice"/>
        <h2>Music tracks</h2>
        <xsl:apply-templates select="music"/>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="voice|music">
    <xsl:if test="track">
      <xsl:choose>
        <xsl:when test="@order = 'random'"><p><i>They play in random order.</i></p></xsl:when>
        <xsl:otherwise><p><i>In the order they play.</i></p></xsl:otherwise>
      </xsl:choose>
    </xsl:if>
    <xsl:choose>
      <xsl:when test="track">
        <table cellpadding="3">
          <xsl:for-each select="track">
            <!-- A category heading where the category changes, so play order stays. -->
            <xsl:if test="not(preceding-sibling::track[1]) or preceding-sibling::track[1]/cat != cat">
              <tr><td colspan="2"><b><xsl:value-of select="cat"/></b></td></tr>
            </xsl:if>
            <tr>
              <td align="right"><xsl:value-of select="position()"/>.</td>
              <td><xsl:value-of select="name"/></td>
            </tr>
          </xsl:for-each>
        </table>
      </xsl:when>
      <xsl:otherwise><p>None at the moment.</p></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
